#pragma once

#include <QMainWindow>

// The product's main window.
class TznFrmDocslimMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TznFrmDocslimMain(QWidget* parent = nullptr);
};
