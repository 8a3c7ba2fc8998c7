#pragma once

#include "ui/znFormMain.h"

// The product's main window: the generic window with the "compact" wording.
class TznFrmDocslimMain : public TznFrmMain
{
    Q_OBJECT
public:
    explicit TznFrmDocslimMain(QWidget* parent = nullptr);
};
