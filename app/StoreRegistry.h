// TSettingsAccess over the process's settings store (WriteSetting / ReadSetting
// under the program's key). GUI thread only.
#pragma once

#include "app/StoreAccess.h"

class TRegistryStore : public TSettingsAccess {
public:
    int ReadInt(const std::string& name, int def) override;
    bool ReadBool(const std::string& name, bool def) override;
    std::string ReadText(const std::string& name, const std::string& def) override;
    void WriteInt(const std::string& name, int value) override;
    void WriteBool(const std::string& name, bool value) override;
    void WriteText(const std::string& name, const std::string& value) override;
};
