#include "sampleclient/sampleclientwindow.h"

#include "sampleclient/startrecord.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sampleclient {

namespace {

const QString UpToDateArgument = QStringLiteral("--package-is-up-to-date");

QString argumentsText(const QStringList& Arguments) {
    return Arguments.isEmpty() ? QStringLiteral("(none)") : Arguments.join(QLatin1Char(' '));
}

} // namespace

TSampleClientWindow::TSampleClientWindow(const TStartRecord& Record, QWidget* parent)
    : QWidget(parent) {
    setWindowTitle(QStringLiteral("Vantor Online (sample client)"));
    setMinimumWidth(460);

    auto* Title = new QLabel(QStringLiteral("<h2>Vantor Online</h2><p>Sample client: the game would run "
                                            "here.</p>"),
                             this);
    auto* ArgumentsLabel = new QLabel(QStringLiteral("Arguments: ") + argumentsText(Record.Arguments), this);
    ArgumentsLabel->setWordWrap(true);
    ArgumentsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* UpToDateLabel =
        new QLabel(Record.Arguments.contains(UpToDateArgument)
                       ? QStringLiteral("The launcher checked this installation during its run.")
                       : QStringLiteral("The launcher did not check this installation during its run."),
                   this);
    auto* DirectoryLabel = new QLabel(QStringLiteral("Installed in: ") + Record.WorkingDirectory, this);
    DirectoryLabel->setWordWrap(true);
    m_pPresenceLabel = new QLabel(this);
    auto* QuitButton = new QPushButton(QStringLiteral("Quit"), this);
    connect(QuitButton, &QPushButton::clicked, this, &QWidget::close);

    auto* Layout = new QVBoxLayout(this);
    for (QWidget* Widget : {static_cast<QWidget*>(Title), static_cast<QWidget*>(ArgumentsLabel),
                            static_cast<QWidget*>(UpToDateLabel), static_cast<QWidget*>(DirectoryLabel),
                            static_cast<QWidget*>(m_pPresenceLabel)}) {
        Layout->addWidget(Widget);
    }
    Layout->addWidget(QuitButton, 0, Qt::AlignRight);
    setAnnounced(false);
}

void TSampleClientWindow::setAnnounced(bool Announced) {
    m_pPresenceLabel->setText(Announced ? QStringLiteral("Running: the launcher can see this client.")
                                        : QStringLiteral("Starting: not announced to the launcher yet."));
}

} // namespace sampleclient
