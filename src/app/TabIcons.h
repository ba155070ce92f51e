#pragma once
// The 100 x 100 pictures of the main tabs, drawn by the program itself.
#include <QIcon>

namespace signetrix {

enum class TabPicture { Analyse, Setup, Update, Redirections, Doublons, EmptyFolders, Backup, About };

inline constexpr int kTabIconSize = 100;

QIcon tabIcon(TabPicture picture);

} // namespace signetrix
