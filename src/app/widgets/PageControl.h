#pragma once
// A tab control whose page changes made by the user can be refused. The
// changing guard is asked before the user leaves the current page; a refused
// change puts the previous page back before anything else sees it. Changes
// made by the program through setActivePage() (or while a ProgrammaticChange
// is alive) are neither guarded nor reported, so a page shown by the program
// never runs the page-entry reactions meant for a user's choice.
#include <QTabWidget>

#include <functional>

namespace signetrix {

class PageControl : public QTabWidget {
    Q_OBJECT

public:
    explicit PageControl(QWidget* parent = nullptr);

    // Returns false to keep the user on `current`.
    using ChangingGuard = std::function<bool(QWidget* current)>;
    void setChangingGuard(ChangingGuard guard) { m_guard = std::move(guard); }

    void setActivePage(QWidget* page);
    QWidget* activePage() const { return m_current; }
    void setPageTabVisible(QWidget* page, bool visible);
    bool isPageTabVisible(QWidget* page) const;

    class ProgrammaticChange {
    public:
        explicit ProgrammaticChange(PageControl* control) : m_control(control) { ++m_control->m_programmatic; }
        ~ProgrammaticChange() { --m_control->m_programmatic; }
        ProgrammaticChange(const ProgrammaticChange&) = delete;
        ProgrammaticChange& operator=(const ProgrammaticChange&) = delete;

    private:
        PageControl* m_control;
    };

signals:
    // The user selected `page` and the guard allowed it.
    void pageChanged(QWidget* page);

private:
    void onCurrentChanged(int index);

    ChangingGuard m_guard;
    QWidget* m_current = nullptr;
    int m_programmatic = 0;
};

} // namespace signetrix
