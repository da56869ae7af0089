#include "ui/ShareBanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>

#include "model/AppModel.h"
#include "ui/ElidedLabel.h"
#include "ui/Symbols.h"

namespace qb::ui {

namespace {

struct ShareBannerStyle {
    CardLook look{Tint::accent, 0.14, 0.5, 1.0, 10.0};
    int padding = 10;
    int iconSize = 20;
};
constexpr ShareBannerStyle kStyle;

// The name an item is shown under, also when its path ends in a separator.
std::string shownName(const std::filesystem::path& item) {
    const std::filesystem::path name = item.filename();
    return name.empty() ? item.parent_path().filename().string() : name.string();
}

}  // namespace

ShareBanner::ShareBanner(model::AppModel& model, QWidget* parent) : CardFrame(kStyle.look, parent), model_(model) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kStyle.padding, kStyle.padding, kStyle.padding, kStyle.padding);
    auto* icon = new QLabel(this);
    icon->setPixmap(symbolIcon(Symbol::send).pixmap(kStyle.iconSize, kStyle.iconSize));
    row->addWidget(icon);
    title_ = new ElidedLabel(this);
    styleText(*title_, TextStyle::subheadline, Tint::primary, QFont::DemiBold);
    row->addWidget(title_, 1);
    close_ = new QToolButton(this);
    close_->setIcon(QIcon::fromTheme(QStringLiteral("window-close-symbolic"),
                                     style()->standardIcon(QStyle::SP_TitleBarCloseButton)));
    close_->setAutoRaise(true);
    row->addWidget(close_);
    connect(close_, &QToolButton::clicked, this, [this] { model_.dropShare(); });
    // Escape drops the items wherever the focus is in the panel, but only while the banner shows.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { model_.dropShare(); });
    connect(&model_, &model::AppModel::changed, this, &ShareBanner::refresh);
    refresh();
}

QString shareTitle(const std::vector<std::filesystem::path>& items) {
    if (items.empty()) {
        return {};
    }
    if (items.size() == 1) {
        return text("share.bannerOne", shownName(items.front()));
    }
    return text("share.banner", std::to_string(items.size()));
}

void ShareBanner::refresh() {
    title_->setText(shareTitle(model_.sharedItems()));
    close_->setToolTip(text("share.cancel"));
    close_->setAccessibleName(text("share.cancel"));
    setVisible(!model_.sharedItems().empty());
}

}  // namespace qb::ui
