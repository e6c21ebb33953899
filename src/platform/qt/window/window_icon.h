// The window's icon, read from its files only when something draws it: a desktop shell asks for
// it when the window is mapped, an offscreen or scripted console never does.
#pragma once

#include <QIcon>
#include <QStringList>

namespace velmora {

// One file per size, as QIcon::addFile would take them.
QIcon LazyIcon(const QStringList& files);

}  // namespace velmora
