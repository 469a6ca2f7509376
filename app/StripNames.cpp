#include "app/StripNames.h"

#include <cctype>

std::string StripComponentName(const std::string& prefix, int n) { return prefix + std::to_string(n); }

std::string StripLabelDesignName(int n) { return (n <= 8 ? "LED" : "led") + std::to_string(n); }

bool SameNameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int FindStripComponent(const std::vector<std::string>& names, const std::string& prefix, int n)
{
    const std::string wanted = StripComponentName(prefix, n);
    for (size_t i = 0; i < names.size(); ++i)
        if (SameNameNoCase(names[i], wanted)) return static_cast<int>(i);
    return -1;
}
