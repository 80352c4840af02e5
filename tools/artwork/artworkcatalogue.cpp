#include "artworkcatalogue.h"

#include "backgroundpainter.h"
#include "buttonpainter.h"
#include "controlpainter.h"
#include "iconpainter.h"
#include "logopainter.h"
#include "splashpainter.h"

namespace artwork {
namespace {

struct TVariant {
    QString Name; // as in the resource name
    QString Tag;  // as shown on the logo
    QRgb Colour;
};

void addLogos(std::vector<TArtwork>& Artwork) {
    const TVariant variants[] = {
        {QStringLiteral("QT"), QString(), 0},
        {QStringLiteral("Classic"), QStringLiteral("CLASSIC"), qRgb(0x8C, 0x5A, 0x2A)},
        {QStringLiteral("Preview"), QStringLiteral("PREVIEW"), qRgb(0x2A, 0x84, 0x8A)},
        {QStringLiteral("Beta"), QStringLiteral("BETA"), qRgb(0x6A, 0x48, 0xA8)},
        {QStringLiteral("Test"), QStringLiteral("TEST"), qRgb(0xA8, 0x3A, 0x30)},
    };
    const TLogoPainter painter;
    for (const TVariant& variant : variants) {
        const QImage logo = painter.vantorLogo(variant.Tag, variant.Colour);
        Artwork.push_back({QStringLiteral("VantorLogo_%1.png").arg(variant.Name), logo});
        Artwork.push_back(
            {QStringLiteral("VantorLogo_%1_disabled.png").arg(variant.Name), TLogoPainter::disabled(logo)});
    }
    Artwork.push_back({QStringLiteral("QuorvaneLogo.png"), painter.quorvaneLogo()});
}

void addButtons(std::vector<TArtwork>& Artwork) {
    const TButtonPainter painter;
    for (const TButtonPainter::TFace& face : TButtonPainter::Faces) {
        for (const auto state :
             {TButtonPainter::EState::Idle, TButtonPainter::EState::Hover, TButtonPainter::EState::Pressed}) {
            Artwork.push_back(
                {QStringLiteral("Button_%1_%2.png").arg(face.Name, TButtonPainter::stateName(state)),
                 painter.paint(face, state)});
        }
    }
}

void addIcons(std::vector<TArtwork>& Artwork) {
    const TIconPainter painter;
    Artwork.push_back({QStringLiteral("Icon_Download.png"), painter.downloadIcon()});
    Artwork.push_back({QStringLiteral("Icon_Update.png"), painter.updateIcon()});
    Artwork.push_back({QStringLiteral("Icon_Play.png"), painter.playIcon()});
    Artwork.push_back({QStringLiteral("icircle.png"), painter.aboutBadge()});
    Artwork.push_back({QStringLiteral("Twitter.png"), painter.newsBadge()});
    Artwork.push_back({QStringLiteral("Discord.png"), painter.communityBadge()});
}

void addControls(std::vector<TArtwork>& Artwork) {
    const TControlPainter painter;
    Artwork.push_back({QStringLiteral("ProgressBar_BG.png"), painter.progressBackground()});
    Artwork.push_back({QStringLiteral("ProgressBar.png"), painter.progressFill()});
    Artwork.push_back({QStringLiteral("checkbox-unchecked.png"), painter.checkBox(false)});
    Artwork.push_back({QStringLiteral("checkbox-checked.png"), painter.checkBox(true)});
    Artwork.push_back({QStringLiteral("clientpackage-background.png"), painter.packageFrame()});
    Artwork.push_back({QStringLiteral("hint-background.png"), painter.hintPanel()});
    Artwork.push_back({QStringLiteral("scrollbar-texture-vertical.png"), painter.scrollGroove()});
    Artwork.push_back({QStringLiteral("scrollbar-handle-vertical.png"), painter.scrollHandle()});
    Artwork.push_back({QStringLiteral("scrollbar-buttonup-up.png"), painter.scrollArrow(true, false)});
    Artwork.push_back({QStringLiteral("scrollbar-buttonup-down.png"), painter.scrollArrow(true, true)});
    Artwork.push_back({QStringLiteral("scrollbar-buttondown-up.png"), painter.scrollArrow(false, false)});
    Artwork.push_back({QStringLiteral("scrollbar-buttondown-down.png"), painter.scrollArrow(false, true)});
}

} // namespace

std::vector<TArtwork> drawLauncherArtwork() {
    std::vector<TArtwork> artwork;
    const QImage scene = TBackgroundPainter().paint();
    artwork.push_back({QStringLiteral("BackgroundImage.jpg"), scene});
    const TSplashPainter splashes(scene);
    artwork.push_back({QStringLiteral("LauncherLogo_QT.png"), splashes.smallCard()});
    artwork.push_back({QStringLiteral("LauncherLogo_UpdatingLauncher.png"),
                       splashes.largeCard(QStringLiteral("Updating Launcher"))});
    artwork.push_back({QStringLiteral("VantorLogo_LaunchingClient.png"),
                       splashes.largeCard(QStringLiteral("Launching Vantor Online"))});
    addLogos(artwork);
    addButtons(artwork);
    addIcons(artwork);
    addControls(artwork);
    return artwork;
}

} // namespace artwork
