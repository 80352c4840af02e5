#pragma once

#include <QObject>
#include <QSize>

#include <array>
#include <memory>
#include <vector>

class QGroupBox;
class QHBoxLayout;
class QRegion;
class QVBoxLayout;
class QWidget;

namespace shared {
class QTextBrowserWithNetwork;
class TDownloadPool;
struct THint;
} // namespace shared

namespace mirrel::launcher {

class ClickableLabel;
class THintPictureFetcher;

// The framed box below the package rows: a row of three slanted hint tiles
// (left "cat1", middle "cat2", right "cat3") above the window's footer, which
// the window adds to hintBoxLayout().
class THintPanel : public QObject {
    Q_OBJECT

public:
    enum class ETilePosition { Left, Middle, Right };

    THintPanel(QWidget* pWindow, std::shared_ptr<shared::TDownloadPool> pDownloadPool);
    ~THintPanel() override;

    QGroupBox* hintBox() const { return m_pHintBox; }
    QVBoxLayout* hintBoxLayout() const { return m_pHintBoxLayout; }
    QWidget* sectionsContainer() const { return m_pSectionsContainer; }
    QWidget* section(ETilePosition Position) const;
    // The widget that stands in the hint row for a tile: its section until a
    // hint is shown there, then the frame that carries the hover colour.
    QWidget* tile(ETilePosition Position) const;

    // Shows the hints in their tiles at once; their pictures fill in when they
    // arrive. The row of tiles is shown only when every tile got a hint;
    // hintRowShown tells which way it went.
    void setHints(const std::vector<shared::THint>& Hints);
    // Features one hint over the left tile.
    void setHint(const shared::THint& Hint);

    // How long a hint picture may take before its tile stays without it.
    void setImageDownloadTimeout(int Milliseconds);
    // Hint pictures on their way.
    int pendingPictureCount() const;

    static QRegion tileShape(ETilePosition Position, const QSize& Size);

signals:
    // Emitted while the hint box is hidden, before it is shown again.
    void hintRowShown(bool Shown);

private:
    struct TSection {
        QWidget* m_pSection = nullptr;
        QWidget* m_pFrame = nullptr;
        shared::QTextBrowserWithNetwork* m_pPlaceholder = nullptr;
    };

    void createHintBox();
    void createSection(ETilePosition Position);
    shared::QTextBrowserWithNetwork* createPlaceholderBrowser(QWidget* pSection) const;
    void showHintInSection(const shared::THint& Hint, ETilePosition Position);
    void clearSection(TSection& Section);
    void ensureFrame(TSection& Section, ETilePosition Position);
    ClickableLabel* createPictureLabel(QWidget* pSection, const QString& ImageUrl, const QSize& PictureSize,
                                       const QString& Url);

    QWidget* m_pWindow;
    std::shared_ptr<shared::TDownloadPool> m_pDownloadPool;
    QGroupBox* m_pHintBox = nullptr;
    QVBoxLayout* m_pHintBoxLayout = nullptr;
    QWidget* m_pSectionsContainer = nullptr;
    QHBoxLayout* m_pHintRow = nullptr;
    std::array<TSection, 3> m_Sections;
    THintPictureFetcher* m_pPictureFetcher;
};

} // namespace mirrel::launcher
