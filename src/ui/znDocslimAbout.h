#pragma once

#include "ui/znFormAbout.h"

// The product's about box: the generic box with the product picture.
class TznFrmDocslimAbout : public TznFrmAbout
{
    Q_OBJECT
public:
    explicit TznFrmDocslimAbout(QWidget* mainForm = nullptr, QWidget* parent = nullptr);
};
