#pragma once
// The program's icon, for the window, the tray and the splash. The drawn
// icon, when it is built in (packaging/icons, see app/CMakeLists.txt), wins
// over the icon painted here.
#include <QIcon>
#include <QPixmap>

QIcon BrelvaneIcon();
// The splash window's picture: the icon with the program's name.
QPixmap BrelvaneSplashPixmap(const QString &version);
