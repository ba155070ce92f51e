#pragma once
// The program's "work in progress" animation (resources/busy.gif, made for
// the program by resources/make_busy_gif.py), set on the pictures that play
// while a long step works. The label owns the movie; the step starts and
// stops it through QLabel::movie().
class QLabel;

namespace signetrix {

void setBusyAnimation(QLabel* label);

} // namespace signetrix
