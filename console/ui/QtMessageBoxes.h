// Modal message boxes of the service commands, owned by the main window.
#pragma once

#include <QPointer>
#include <QWidget>

#include "console/logic/ServiceControlPorts.h"

namespace corvel {

class QtMessageBoxes : public MessageBoxPort {
public:
    explicit QtMessageBoxes(QWidget* owner) : owner_(owner) {}

    void show(const std::string& text, const std::string& title, MessageIcon icon) override;
    bool askYesNo(const std::string& text, const std::string& title) override;

private:
    QPointer<QWidget> owner_;
};

}  // namespace corvel
