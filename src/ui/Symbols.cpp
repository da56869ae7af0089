#include "ui/Symbols.h"

#include <QPainter>

#include <map>

namespace qb::ui {

namespace {

struct SymbolSource {
    const char* themeName;
    const char* fallback;
};

SymbolSource sourceOf(Symbol symbol) {
    switch (symbol) {
        case Symbol::device:
            return {"computer-symbolic", ":/symbols/laptop.svg"};
        case Symbol::lock:
            return {"changes-prevent-symbolic", ":/symbols/lock.svg"};
        case Symbol::add:
            return {"list-add-symbolic", ":/symbols/plus-circle.svg"};
        case Symbol::remove:
            return {"list-remove-symbolic", ":/symbols/minus-circle.svg"};
        case Symbol::send:
            return {"go-next-symbolic", ":/symbols/arrow-right-circle.svg"};
        case Symbol::settings:
            return {"emblem-system-symbolic", ":/symbols/gear.svg"};
        case Symbol::devices:
            return {"network-workgroup-symbolic", ":/symbols/devices.svg"};
        case Symbol::transfers:
            return {"network-transmit-receive-symbolic", ":/symbols/up-down.svg"};
        case Symbol::inbox:
            return {"folder-download-symbolic", ":/symbols/tray-down.svg"};
        case Symbol::outgoing:
            return {"go-up-symbolic", ":/symbols/arrow-up-circle.svg"};
        case Symbol::incoming:
            return {"go-down-symbolic", ":/symbols/arrow-down-circle.svg"};
        case Symbol::transferRequest:
            return {"document-save-symbolic", ":/symbols/arrow-down-circle-fill.svg"};
        case Symbol::pairRequest:
            return {"contact-new-symbolic", ":/symbols/person-add.svg"};
        case Symbol::reveal:
            return {"edit-find-symbolic", ":/symbols/magnifier.svg"};
        case Symbol::trash:
            return {"user-trash-symbolic", ":/symbols/trash.svg"};
        case Symbol::dragHandle:
            return {"open-menu-symbolic", ":/symbols/lines.svg"};
        case Symbol::stop:
            return {"process-stop-symbolic", ":/symbols/x-circle.svg"};
    }
    return {"", ":/symbols/laptop.svg"};
}

}  // namespace

QIcon symbolIcon(Symbol symbol) {
    // One icon per symbol for the life of the process. Every icon made anew renders its drawing anew and files the
    // result in the process's pixmap cache under a key of its own, so rows that restyle themselves several times a
    // second during a transfer would fill that cache to its limit. A theme icon follows a change of theme by itself.
    static std::map<Symbol, QIcon> icons;
    const auto known = icons.find(symbol);
    if (known != icons.end()) {
        return known->second;
    }
    const SymbolSource source = sourceOf(symbol);
    const QIcon icon =
        QIcon::fromTheme(QString::fromLatin1(source.themeName), QIcon(QString::fromLatin1(source.fallback)));
    icons.emplace(symbol, icon);
    return icon;
}

QPixmap tintedSymbol(Symbol symbol, const QColor& colour, int size, double devicePixelRatio) {
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap = symbolIcon(symbol).pixmap(QSize(pixels, pixels));
    if (pixmap.isNull()) {
        return pixmap;
    }
    // Symbolic theme icons and our drawings are shapes; painting over their coverage gives them our colour.
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

}  // namespace qb::ui
