#include "SxExceptionClass.h"

#include <future>
#include <map>
#include <mutex>
#include <new>
#include <regex>
#include <stdexcept>
#include <system_error>
#include <typeindex>

namespace {

std::mutex& NamesLock()
{
    static std::mutex lock;
    return lock;
}

std::map<std::type_index, std::string>& Names()
{
    static std::map<std::type_index, std::string> names;
    return names;
}

// The standard classes by their exact type; the first match of the list decides.
const struct {
    const std::type_info* type;
    const char* name;
} StandardNames[] = {
    {&typeid(std::exception), "std::exception"},
    {&typeid(std::runtime_error), "std::runtime_error"},
    {&typeid(std::logic_error), "std::logic_error"},
    {&typeid(std::invalid_argument), "std::invalid_argument"},
    {&typeid(std::out_of_range), "std::out_of_range"},
    {&typeid(std::length_error), "std::length_error"},
    {&typeid(std::domain_error), "std::domain_error"},
    {&typeid(std::range_error), "std::range_error"},
    {&typeid(std::overflow_error), "std::overflow_error"},
    {&typeid(std::underflow_error), "std::underflow_error"},
    {&typeid(std::system_error), "std::system_error"},
    {&typeid(std::bad_alloc), "std::bad_alloc"},
    {&typeid(std::bad_array_new_length), "std::bad_array_new_length"},
    {&typeid(std::bad_cast), "std::bad_cast"},
    {&typeid(std::bad_typeid), "std::bad_typeid"},
    {&typeid(std::bad_function_call), "std::bad_function_call"},
    {&typeid(std::future_error), "std::future_error"},
    {&typeid(std::regex_error), "std::regex_error"},
};

} // namespace

void RegisterExceptionClassName(const std::type_info& type, const std::string& name)
{
    std::lock_guard<std::mutex> guard(NamesLock());
    Names()[std::type_index(type)] = name;
}

std::string ExceptionClassName(const std::exception& e)
{
    if (auto named = dynamic_cast<const TSxNamedException*>(&e))
        return named->ClassName();
    const std::type_info& type = typeid(e);
    {
        std::lock_guard<std::mutex> guard(NamesLock());
        auto it = Names().find(std::type_index(type));
        if (it != Names().end())
            return it->second;
    }
    for (const auto& entry : StandardNames)
        if (*entry.type == type)
            return entry.name;
    return "Exception";
}
