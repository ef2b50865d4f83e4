#include "uTSxComponent.h"

bool SxSameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

TSxComponent* TSxComponent::FindComponent(const std::string& name) const
{
    for (const auto& component : FComponents)
        if (SxSameName(component->Name(), name))
            return component.get();
    return nullptr;
}
