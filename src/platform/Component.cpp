#include "platform/Component.h"

#include <algorithm>

namespace qv {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) {
        owner_->Insert(this);
        loading_ = owner_->loading_;
        designing_ = owner_->designing_;
    }
}

TComponent::~TComponent() {
    // Owned components go first, last created first.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
    if (owner_) owner_->Remove(this);
}

void TComponent::Remove(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
}

void TComponent::BeginLoading() {
    loading_ = true;
    for (TComponent* c : components_) c->BeginLoading();
}

void TComponent::EndLoading() {
    loading_ = false;
    for (TComponent* c : components_) c->loading_ = false;
    for (TComponent* c : std::vector<TComponent*>(components_)) c->Loaded();
    Loaded();
}

}  // namespace qv
