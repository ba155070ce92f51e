#include "app/widgets/BusyAnimation.h"

#include <QLabel>
#include <QMovie>

// Resources of a static library are registered by hand: nothing else refers
// to their object file, so the linker would drop its initialiser.
static void registerAppResources() { Q_INIT_RESOURCE(app); }

namespace signetrix {

void setBusyAnimation(QLabel* label)
{
    registerAppResources();
    auto* movie = new QMovie(QStringLiteral(":/signetrix/busy.gif"), QByteArray(), label);
    movie->setCacheMode(QMovie::CacheAll);
    label->setMovie(movie);
}

} // namespace signetrix
