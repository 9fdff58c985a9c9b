#pragma once

#include <QWidget>

namespace tavix {

class ContentView;

// The app's one window, "Tavix Flash Tool". It cannot be made smaller than its content asks
// for, and has no maximum.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize defaultSize{900, 630};

    // Takes ownership of the content; a default one is made when none is given.
    explicit MainWindow(ContentView* content = nullptr, QWidget* parent = nullptr);

    ContentView& content() const { return *m_content; }

private:
    ContentView* m_content;
};

}  // namespace tavix
