#include "ui/UiConfirmer.h"

namespace velk::ui {

bool UiConfirmer::confirmOperation(const QString&, const QString&, bool) {
    return false;
}

}  // namespace velk::ui
