#pragma once

class QWidget;

namespace sonitor {

// The start-up splash: a frameless window over the main window showing the
// program's name and version, closing by itself after a few seconds or on a
// click. objectName "Splash".
QWidget* ShowSplash(QWidget* parent);

}  // namespace sonitor
