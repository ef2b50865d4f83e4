#pragma once
// The base of the framework's components: a name, the owner that holds it (a module) and the
// system's class name. An owner keeps its components in creation order and frees them with itself.
#include <memory>
#include <string>
#include <vector>

class TSxComponent {
public:
    explicit TSxComponent(TSxComponent* owner = nullptr) : FOwner(owner) {}
    virtual ~TSxComponent() = default;
    TSxComponent(const TSxComponent&) = delete;
    TSxComponent& operator=(const TSxComponent&) = delete;

    virtual std::string ClassName() const { return "TSxComponent"; }
    const std::string& Name() const { return FName; }
    virtual void SetName(const std::string& name) { FName = name; }
    TSxComponent* Owner() const { return FOwner; }

    // Components owned by this one, in creation order.
    template <typename T, typename... Args> T& Add(const std::string& name, Args&&... args)
    {
        auto component = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& ref = *component;
        ref.SetName(name);
        FComponents.push_back(std::move(component));
        return ref;
    }
    const std::vector<std::unique_ptr<TSxComponent>>& Components() const { return FComponents; }
    // The owned component of that name (case-insensitive, ASCII), or nullptr.
    TSxComponent* FindComponent(const std::string& name) const;

private:
    TSxComponent* FOwner;
    std::string FName;
    std::vector<std::unique_ptr<TSxComponent>> FComponents;
};

// ASCII case-insensitive equality of two names.
bool SxSameName(const std::string& a, const std::string& b);
