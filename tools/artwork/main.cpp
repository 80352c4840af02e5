#include "artworkcatalogue.h"
#include "artworkfonts.h"
#include "artworkwriter.h"
#include "contactsheet.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

namespace {

int run(const QStringList& Arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws the pictures of the Vantor Online launcher."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("Folder that receives the pictures."));
    const QCommandLineOption checkOption(
        QStringLiteral("check"), QStringLiteral("Write nothing; fail when a picture in the folder differs."));
    const QCommandLineOption sheetOption(QStringLiteral("contact-sheet"),
                                         QStringLiteral("Also render every picture onto one review sheet."),
                                         QStringLiteral("file"));
    parser.addOption(checkOption);
    parser.addOption(sheetOption);
    parser.process(Arguments);

    QTextStream err(stderr);
    QTextStream out(stdout);
    if (parser.positionalArguments().size() != 1) {
        err << parser.helpText();
        return 2;
    }
    QString error;
    if (!artwork::loadArtworkFonts(error)) {
        err << error << '\n';
        return 1;
    }

    const std::vector<artwork::TArtwork> pictures = artwork::drawLauncherArtwork();
    const artwork::TArtworkWriter writer(parser.positionalArguments().constFirst());
    int failures = 0;
    for (const artwork::TArtwork& picture : pictures) {
        const QByteArray bytes = artwork::TArtworkWriter::encoded(picture.Image, picture.FileName);
        if (bytes.isEmpty()) {
            err << "Cannot encode " << picture.FileName << '\n';
            ++failures;
        } else if (parser.isSet(checkOption)) {
            if (!writer.matches(picture.FileName, bytes)) {
                err << "Differs: " << picture.FileName << '\n';
                ++failures;
            }
        } else if (!writer.write(picture.FileName, bytes, error)) {
            err << error << '\n';
            ++failures;
        } else {
            out << picture.FileName << ' ' << picture.Image.width() << 'x' << picture.Image.height() << ' '
                << bytes.size() << " bytes\n";
        }
    }
    if (parser.isSet(sheetOption)) {
        const QString sheet = parser.value(sheetOption);
        if (!artwork::TContactSheet(pictures).render().save(sheet)) {
            err << "Cannot write the contact sheet " << sheet << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // The generator draws off screen; a display is neither needed nor wanted.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return run(QCoreApplication::arguments());
}
