#include "ui/LazyMainWindow.h"

#include <utility>

#include "ui/MainWindow.h"

namespace velk::ui {

LazyMainWindow::LazyMainWindow(Factory make) : make_(std::move(make)) {}

LazyMainWindow::~LazyMainWindow() = default;

MainWindow& LazyMainWindow::get() {
    if (!window_) {
        window_ = make_();
        const std::vector<Hook> hooks = std::move(hooks_);
        hooks_.clear();
        for (const Hook& hook : hooks) {
            hook(*window_);
        }
    }
    return *window_;
}

void LazyMainWindow::whenMade(Hook hook) {
    if (window_) {
        hook(*window_);
    } else {
        hooks_.push_back(std::move(hook));
    }
}

}  // namespace velk::ui
