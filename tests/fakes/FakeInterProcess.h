#pragma once
// Mutexes and messages shared by the copies of one test "machine": each FakeInterProcess is
// one copy; copies made over the same World see each other's mutexes and broadcasts.
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/InterProcess.h"

namespace qv {

class FakeInterProcess : public IInterProcess {
public:
    struct World {
        std::map<std::string, FakeInterProcess*> holders;  // mutex name -> holding copy
        std::vector<FakeInterProcess*> copies;
    };
    explicit FakeInterProcess(std::shared_ptr<World> world = std::make_shared<World>())
        : world_(std::move(world)) {
        world_->copies.push_back(this);
    }
    ~FakeInterProcess() override {
        for (auto it = world_->holders.begin(); it != world_->holders.end();)
            it = it->second == this ? world_->holders.erase(it) : std::next(it);
        std::erase(world_->copies, this);
    }

    std::vector<uint32_t> received;    // broadcasts that reached this copy
    std::vector<uint32_t> broadcasts;  // broadcasts this copy sent
    int open_calls = 0, create_calls = 0;
    int released_while_listening = 0;  // a held mutex let go while messages still came in

    SysHandle OpenMutex(const std::string& name) override {
        ++open_calls;
        auto it = world_->holders.find(name);
        if (it == world_->holders.end()) return 0;
        handles_[next_] = it->second == this ? name : "";
        return next_++;
    }
    SysHandle CreateMutex(const std::string& name) override {
        ++create_calls;
        world_->holders.emplace(name, this);
        handles_[next_] = world_->holders[name] == this ? name : "";
        return next_++;
    }
    bool CloseHandle(SysHandle h) override {
        auto it = handles_.find(h);
        if (it == handles_.end()) return false;
        std::string name = it->second;
        handles_.erase(it);
        if (!name.empty()) {
            world_->holders.erase(name);
            if (!listening_.empty()) ++released_while_listening;
        }
        return true;
    }
    uint32_t RegisterWindowMessage(const std::string& name) override {
        return 0xC000 + static_cast<uint32_t>(std::hash<std::string>()(name) % 0x4000);
    }
    void ReceiveBroadcasts(uint32_t message) override { listening_.insert(message); }
    void StopReceiving(uint32_t message) override { listening_.erase(message); }
    void BroadcastSystemMessage(uint32_t message) override {
        broadcasts.push_back(message);
        for (FakeInterProcess* c : world_->copies)
            if (c != this && c->listening_.count(message)) c->received.push_back(message);
    }
    bool Holds(const std::string& name) const {
        auto it = world_->holders.find(name);
        return it != world_->holders.end() && it->second == this;
    }

private:
    std::shared_ptr<World> world_;
    std::map<SysHandle, std::string> handles_;
    std::set<uint32_t> listening_;
    SysHandle next_ = 0x100;
};

}  // namespace qv
