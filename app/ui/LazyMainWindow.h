#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace velk::ui {

class MainWindow;

// The main window, made the first time it is needed. An agent started at
// login with its senders set up may never show it, and then never pays for
// its widgets, fonts and style sheet, in memory or in time to its first
// answer. GUI thread only.
class LazyMainWindow : public QObject {
public:
    using Factory = std::function<std::unique_ptr<MainWindow>()>;
    using Hook = std::function<void(MainWindow&)>;

    explicit LazyMainWindow(Factory make);
    ~LazyMainWindow() override;
    LazyMainWindow(const LazyMainWindow&) = delete;
    LazyMainWindow& operator=(const LazyMainWindow&) = delete;

    // The window; made on the first call, and then the hooks run in the order
    // they were given.
    MainWindow& get();
    // The window if it has been made, else null.
    MainWindow* ifMade() const { return window_.get(); }
    // Runs hook once the window is made; at once when it already is.
    void whenMade(Hook hook);

private:
    Factory make_;
    std::vector<Hook> hooks_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace velk::ui
