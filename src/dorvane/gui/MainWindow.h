#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui {
class MainWindow;
}

class QLabel;

namespace dorvane {

// The main window as its interface file lays it out, plus the hint overlay.
// It holds no state of the application: the controller wires it.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    Ui::MainWindow &ui() { return *m_ui; }
    QWidget *helpView() const;
    // Shows the hint over the list; it fades away by itself.
    void showHelpView();

Q_SIGNALS:
    void closing();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeHelpView();

    std::unique_ptr<Ui::MainWindow> m_ui;
    QLabel *m_helpView = nullptr;
};

} // namespace dorvane
