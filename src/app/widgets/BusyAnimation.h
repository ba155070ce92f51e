#pragma once
// The program's animations (resources/busy.gif and copy.gif, made for the
// program by resources/make_animations.py), set on the pictures that play
// while a long step works. The label owns the movie; the step starts and
// stops it through QLabel::movie().
class QLabel;

namespace signetrix {

// "Work in progress".
void setBusyAnimation(QLabel* label);
// Files being copied.
void setCopyAnimation(QLabel* label);

} // namespace signetrix
