#include "app/widgets/BusyAnimation.h"

#include <QLabel>
#include <QMovie>

// Resources of a static library are registered by hand: nothing else refers
// to their object file, so the linker would drop its initialiser.
static void registerAppResources() { Q_INIT_RESOURCE(app); }

namespace signetrix {

namespace {

void setAnimation(QLabel* label, const QString& resource)
{
    registerAppResources();
    auto* movie = new QMovie(resource, QByteArray(), label);
    movie->setCacheMode(QMovie::CacheAll);
    label->setMovie(movie);
}

} // namespace

void setBusyAnimation(QLabel* label) { setAnimation(label, QStringLiteral(":/signetrix/busy.gif")); }

void setCopyAnimation(QLabel* label) { setAnimation(label, QStringLiteral(":/signetrix/copy.gif")); }

} // namespace signetrix
