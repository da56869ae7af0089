#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace qb::ui {

// The symbols of the interface by meaning. Each comes from the icon theme under its freedesktop name when
// the theme has it, else from our own small drawing in the resources, so every one always shows.
enum class Symbol {
    device,
    lock,
    add,
    remove,
    send,
    settings,
    devices,
    transfers,
    inbox,
    outgoing,
    incoming,
    transferRequest,
    pairRequest,
    reveal,
    trash,
    dragHandle,
    stop,
};

QIcon symbolIcon(Symbol symbol);

// The symbol drawn in one colour, `size` device-independent pixels square, sharp on high-density screens.
QPixmap tintedSymbol(Symbol symbol, const QColor& colour, int size, double devicePixelRatio = 1.0);

}  // namespace qb::ui
