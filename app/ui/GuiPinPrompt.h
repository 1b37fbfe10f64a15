#pragma once

#include "platform/PinPrompt.h"

namespace velk::signing {
class ISigner;
}

namespace velk::ui {

class GuiLoop;

// The certificate store's PIN prompt (a platform::PinPrompt): the PIN dialog
// on the GUI thread. Asked on a request thread, it waits for the dialog; on
// the GUI thread it runs the dialog directly; once the event loop has ended it
// answers "cancelled by the user" without asking. The signer names the
// certificate in the dialog; it must outlive every use of the prompt, so
// start-up removes the prompt (ProviderPinCache::setPrompt({})) before it
// destroys the signer.
class GuiPinPrompt {
public:
    explicit GuiPinPrompt(signing::ISigner* signer);
    GuiPinPrompt(signing::ISigner* signer, GuiLoop& loop);

    platform::PinAnswer operator()(const platform::PinRequest& request) const;

private:
    signing::ISigner* signer_;  // not owned
    GuiLoop* loop_;
};

}  // namespace velk::ui
