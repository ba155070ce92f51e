#pragma once
// The in-memory data of a run, owned by the main window and shared by the
// controllers of its steps: the favorite file list of the start page, the
// favorites table the analysis fills and the cleanup reads, the cancel mark of
// the analysis, and the queues of the cleanup (redirect review, duplicate
// groups). Nothing here is stored; the next run starts from the list.
#include "cleanup/Duplicates.h"
#include "cleanup/RedirectQueue.h"
#include "favorites/FavoritesTable.h"

#include <QStringList>

namespace signetrix {

struct RunData {
    QStringList favoriteFiles;       // the favorite file list (start page count)
    FavoritesTable MemoryTable1;     // one row per favorite of the analysis
    bool AnalysisCancelled = false;  // the user cancelled the analysis in progress
    cleanup::RedirectQueue redirections;
    cleanup::DoublonChoices doublons;

    // Both queues emptied, as the window does at start and at close.
    void clearQueues()
    {
        redirections.clear();
        redirections.restart();
        doublons.reset({});
    }
};

} // namespace signetrix
