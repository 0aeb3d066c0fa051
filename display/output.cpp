// The output selection's globals and the walk over every output record.
#include "display/output.h"

#include "core/io/error_codes.h"
#include "display/display.h"
#include "display/pictures.h"

TimedRefreshBlock* TimedRefresh;
uint32_t GraphicsMaskMode;
int32_t GraphicsAlphaIntensity = -1;

void SetMaskMode(uint32_t mode) { GraphicsMaskMode = mode; }

uint32_t SetAlphaIntensity(int32_t value)
{
    if (value < -1 || value > 255) return ERR_WRONGUSAGE;
    GraphicsAlphaIntensity = value;
    return 0;
}

OutputRecord* DisplayOutput(Display* display)
{
    if (!display) return nullptr;
    return display->selectedOutput ? display->selectedOutput : &display->output;
}

OutputRecord* CurrentOutput() { return DisplayOutput(CurrentDisplay); }

void ResetClipWords(OutputRecord* output)
{
    output->clipWords[0] = 0;
    output->clipWords[1] = 0;
    output->clipWords[2] = output->width - 1;
    output->clipWords[3] = output->height - 1;
}

void ForEachOutputRecord(void (*visit)(OutputRecord* output, void* user), void* user)
{
    for (Display* d = DisplayList; d; d = reinterpret_cast<Display*>(d->header.next))
        visit(&d->output, user);
    for (BGPic* p = BGPicList; p; p = reinterpret_cast<BGPic*>(p->header.next))
        visit(&p->output, user);
}
