#pragma once

#include <QWidget>

// Stand-in window until the real content view lands.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
};
