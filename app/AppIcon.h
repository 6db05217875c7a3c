#pragma once
// The program's icon, for the window, the tray and the splash. A drawn
// icon file, when one is built in (packaging/icons/brelvane.svg, see
// app/CMakeLists.txt), wins over the icon painted here.
#include <QIcon>
#include <QPixmap>

QIcon BrelvaneIcon();
// The splash window's picture: the icon with the program's name.
QPixmap BrelvaneSplashPixmap(const QString &version);
