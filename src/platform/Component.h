#pragma once
// The small component base: an owner that frees what it owns, a name, and the loading and
// design states. A form "reads its layout" by creating components in layout order inside
// BeginLoading()/EndLoading(); the properties are set through the components' setters and
// every component gets Loaded() once the whole layout has been read.
#include <memory>
#include <string>
#include <vector>

namespace qv {

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    bool Loading() const { return loading_; }
    bool Designing() const { return designing_; }
    void SetDesigning(bool designing) { designing_ = designing; }

    // Owned components, in creation (layout) order.
    const std::vector<TComponent*>& Components() const { return components_; }

    // Marks this component and everything it owns as being read from the layout.
    void BeginLoading();
    // Clears the loading state, then calls Loaded() on each owned component in layout order
    // and finally on this one. An exception from a Loaded() step propagates.
    void EndLoading();

protected:
    // The after-loading step; the base does nothing.
    virtual void Loaded() {}

private:
    void Insert(TComponent* c) { components_.push_back(c); }
    void Remove(TComponent* c);

    TComponent* owner_;
    std::string name_;
    bool loading_ = false;
    bool designing_ = false;
    std::vector<TComponent*> components_;
};

}  // namespace qv
