// A static Qt links its plugins into the program, which must name them:
// the Windows platform, the display-less platform and the native style.

#include <QtPlugin>

Q_IMPORT_PLUGIN(QWindowsIntegrationPlugin)
Q_IMPORT_PLUGIN(QMinimalIntegrationPlugin)
Q_IMPORT_PLUGIN(QWindowsVistaStylePlugin)
