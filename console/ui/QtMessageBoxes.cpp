#include "console/ui/QtMessageBoxes.h"

#include <QMessageBox>
#include <QString>

namespace corvel {

void QtMessageBoxes::show(const std::string& text, const std::string& title, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok, owner_.data());
    box.setObjectName(QStringLiteral("serviceMessageBox"));
    box.exec();
}

bool QtMessageBoxes::askYesNo(const std::string& text, const std::string& title) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, owner_.data());
    box.setObjectName(QStringLiteral("serviceQuestionBox"));
    return box.exec() == QMessageBox::Yes;
}

}  // namespace corvel
