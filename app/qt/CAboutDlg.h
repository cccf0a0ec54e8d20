// The About box: icon, program name and version, OK.
#pragma once

#include <QDialog>

namespace qdx::app {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace qdx::app
