#include "app/qt/GuiPorts.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "app/DialogTemplates.h"

namespace qdx::app {

bool GuiCaller::Call(const std::function<void()>& function) {
    if (QThread::currentThread() == m_context->thread()) {
        function();
        return true;
    }
    if (m_detached.load()) {
        return false;
    }
    return QMetaObject::invokeMethod(m_context, function, Qt::BlockingQueuedConnection);
}

void PostToEventLoop(std::function<void()> function) {
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(function));
}

MessagePresenter ModalMessagePresenter() {
    return [](QWidget* parent, const MessageRequest& request) {
        QMessageBox box(request.warningIcon ? QMessageBox::Warning : QMessageBox::NoIcon,
                        request.caption, request.text, QMessageBox::Ok, parent);
        box.exec();
    };
}

void StartButtonPort::SetEnabled(bool enabled) {
    m_gui.Call([this, enabled] {
        if (m_button) {
            m_button->setEnabled(enabled);
        }
    });
}

bool StatusTextPort::SetText(const std::string& text) {
    bool exists = false;
    m_gui.Call([this, &text, &exists] {
        if (m_label) {
            const QString shown = QString::fromStdString(text);
            m_label->setText(shown);
            exists = true;
            if (m_shown) {
                m_shown(shown);
            }
        }
    });
    return exists;
}

bool ProgressBarPort::SetPosition(int /*position*/, int percent) {
    bool exists = false;
    m_gui.Call([this, percent, &exists] {
        if (m_bar) {
            m_bar->setValue(ProgressShown(percent));
            exists = true;
        }
    });
    return exists;
}

void AppMessageBox::Show(const std::string& text) {
    m_gui.Call([this, &text] {
        m_present(m_owner.data(), MessageRequest{true, QCoreApplication::applicationName(),
                                                 QString::fromStdString(text)});
    });
}

}  // namespace qdx::app
