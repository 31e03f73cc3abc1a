#pragma once
// The About box: banner, product title, links, OK. Dragged by any point.

#include <QDialog>

namespace tarnwell {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint dragOffset_;
};

}  // namespace tarnwell
