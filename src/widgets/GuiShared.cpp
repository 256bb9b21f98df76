#include "widgets/GuiShared.h"

#include "base/Translate.h"

namespace {
SharedGui* shared = nullptr;
}

QString Tr(const char* text) { return QString::fromUtf8(Translate(text)); }

QFont DesignFont()
{
    QFont font("MS Sans Serif");
    font.setPointSize(8);
    return font;
}

SharedGui* Shared() { return shared; }
void SetShared(SharedGui* resources) { shared = resources; }
