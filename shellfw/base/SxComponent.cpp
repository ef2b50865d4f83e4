#include "SxComponent.h"

#include "uGLBTools.h"

bool SxSameName(const std::string& a, const std::string& b)
{
    return SameTextAscii(a, b);
}

TSxComponent* TSxComponent::FindComponent(const std::string& name) const
{
    for (const auto& component : FComponents)
        if (SxSameName(component->Name(), name))
            return component.get();
    return nullptr;
}
