#pragma once

#include "Events.h"

namespace rtl {

// The base of the window's components. The owner keeps its components alive (it holds
// them); the component only knows who owns it and whether the owner is still loading it
// from its stored description.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner) : FOwner(owner) {}

    TComponent* Owner() const { return FOwner; }
    bool Loading() const { return FLoading; }
    void BeginLoading() { FLoading = true; }
    void EndLoading() { FLoading = false; }

private:
    TComponent* FOwner;
    bool FLoading = false;
};

} // namespace rtl
