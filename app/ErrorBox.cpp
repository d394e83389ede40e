#include "app/ErrorBox.h"

#include "app/Application.h"

#include <QMessageBox>
#include <exception>
#include <new>

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + '.';
    return message;
}

void ShowErrorBox(QWidget* parent, const std::string& message)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromStdString(ErrorBoxText(message)),
        QMessageBox::Ok, parent);
    box.exec();
}

void ReportCurrentException(QWidget* parent) noexcept
{
    // Showing the box can itself fail (no memory left); then there is nothing more to say.
    try {
        try {
            throw;
        } catch (const std::bad_alloc&) {
            ShowErrorBox(parent, "Out of memory");
        } catch (const std::exception& e) {
            ShowErrorBox(parent, e.what());
        } catch (...) {
            ShowErrorBox(parent, "Unknown failure");
        }
    } catch (...) { }
}
