#include "ui/SenderPicker.h"

#include <QMetaObject>

namespace velk::ui {

void SenderPicker::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

server::SenderPickResult SenderPicker::pickSender(const std::vector<core::SenderProfile>&, const std::string&,
                                                  const std::string&, const std::string&) {
    return {};
}

}  // namespace velk::ui
