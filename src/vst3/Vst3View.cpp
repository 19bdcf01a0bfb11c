#include "vst3/Vst3View.h"

#include "vst3/Vst3Plugin.h"

#include <cstring>

using namespace vst3;

namespace {

#if defined(_WIN32)
const char* const kNativePlatformType = kPlatformTypeHwnd;
// The Windows panel runs its own timer.
constexpr bool kPanelNeedsPump = false;
#else
const char* const kNativePlatformType = kPlatformTypeX11;
constexpr bool kPanelNeedsPump = true;
#endif

// The panel asks for a pass at least every 33 ms; hosts' loops are coarse.
constexpr std::uint64_t kPumpMilliseconds = 16;

void fillPanelSize(ViewRect& rect)
{
    rect.left = 0;
    rect.top = 0;
    rect.right = PanelView::kWidth;
    rect.bottom = PanelView::kHeight;
}

} // namespace

Vst3View::Vst3View(Vst3Plugin& plugin) : plugin(plugin)
{
    plugin.addRef();
}

Vst3View::~Vst3View()
{
    closePanel();
    plugin.viewClosed(this);
    plugin.release();
}

tresult VST3CALL Vst3View::queryInterface(const TUID iid, void** object)
{
    if (!object)
        return kInvalidArgument;
    void* found = nullptr;
    if (kFUnknownIid == iid || kIPlugViewIid == iid)
        found = static_cast<IPlugView*>(this);
    else if (kIPlugViewContentScaleSupportIid == iid)
        found = static_cast<IPlugViewContentScaleSupport*>(this);
    else if (kITimerHandlerIid == iid)
        found = static_cast<ITimerHandler*>(this);
    *object = found;
    if (!found)
        return kNoInterface;
    addRef();
    return kResultOk;
}

std::uint32_t VST3CALL Vst3View::addRef()
{
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t VST3CALL Vst3View::release()
{
    const std::uint32_t left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

tresult VST3CALL Vst3View::isPlatformTypeSupported(const char* type)
{
    return type && std::strcmp(type, kNativePlatformType) == 0 ? kResultTrue : kResultFalse;
}

tresult VST3CALL Vst3View::attached(void* parent, const char* type)
{
    if (!parent || isPlatformTypeSupported(type) != kResultTrue)
        return kInvalidArgument;
    if (panel && panel->isOpen())
        return kResultFalse; // attached twice without removed()
    if (!panel)
        panel = createPanelView(plugin);
    if (!panel || !panel->open(parent))
        return kResultFalse;
    startPump();
    return kResultOk;
}

tresult VST3CALL Vst3View::removed()
{
    closePanel();
    return kResultOk;
}

void Vst3View::closePanel()
{
    stopPump();
    if (panel)
        panel->close();
}

void Vst3View::startPump()
{
    if (!kPanelNeedsPump)
        return;
    void* loop = nullptr;
    if (frame && frame->queryInterface(kIRunLoopIid.bytes, &loop) == kResultOk && loop) {
        runLoop = static_cast<IRunLoop*>(loop);
        if (runLoop->registerTimer(this, kPumpMilliseconds) == kResultOk)
            return;
        runLoop->release();
        runLoop = nullptr;
    }
    // No run loop to be had: the panel's own timer, which takes the pump's
    // lock for every pass, as this view does around its own panel calls.
    ownTimer.start(
        [this] {
            if (panel)
                panel->idle();
        },
        std::chrono::milliseconds(kPumpMilliseconds));
}

void Vst3View::stopPump()
{
    if (runLoop) {
        runLoop->unregisterTimer(this);
        runLoop->release();
        runLoop = nullptr;
    }
    ownTimer.stop();
}

void VST3CALL Vst3View::onTimer()
{
    if (panel && panel->isOpen())
        panel->idle();
    plugin.reportLatencyChange();
}

tresult VST3CALL Vst3View::getSize(ViewRect* size)
{
    if (!size)
        return kInvalidArgument;
    fillPanelSize(*size);
    return kResultOk;
}

tresult VST3CALL Vst3View::onSize(ViewRect* newSize)
{
    if (!newSize)
        return kInvalidArgument;
    return newSize->right - newSize->left == PanelView::kWidth && newSize->bottom - newSize->top == PanelView::kHeight
               ? kResultOk
               : kResultFalse;
}

tresult VST3CALL Vst3View::checkSizeConstraint(ViewRect* rect)
{
    if (!rect)
        return kInvalidArgument;
    rect->right = rect->left + PanelView::kWidth;
    rect->bottom = rect->top + PanelView::kHeight;
    return kResultTrue;
}

tresult VST3CALL Vst3View::setFrame(IPlugFrame* newFrame)
{
    // A frame that arrives (or goes) while the panel is open takes over (or
    // hands back) its pump.
    const bool open = panel && panel->isOpen();
    if (open)
        stopPump();
    frame = newFrame;
    if (open)
        startPump();
    return kResultOk;
}

tresult VST3CALL Vst3View::setContentScaleFactor(float factor)
{
    if (!(factor > 0.0f))
        return kInvalidArgument;
    contentScale = factor;
    return kResultOk;
}
