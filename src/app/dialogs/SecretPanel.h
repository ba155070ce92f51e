#pragma once
// The credits area of the about box: its lines scroll upwards in a loop while
// it runs. step() moves the text one pixel; the timer calls it.
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace signetrix::dialogs {

class TSecretPanel : public QWidget {
    Q_OBJECT
public:
    explicit TSecretPanel(QWidget* parent = nullptr);

    // Lines separated by line breaks (CR LF or LF); the scroll starts over from the bottom.
    void setText(const QString& text);
    QString text() const { return m_text; }
    QStringList lines() const { return m_lines; }

    void start();
    void stop();
    bool isScrolling() const { return m_timer.isActive(); }

    // Top of the first line, relative to the panel; starts at the panel's
    // bottom edge and runs up until the last line has left at the top.
    int offset() const { return m_offset; }
    int textHeight() const;
    void step();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_text;
    QStringList m_lines;
    int m_offset = 0;
    QTimer m_timer;
};

} // namespace signetrix::dialogs
