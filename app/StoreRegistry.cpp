#include "app/StoreRegistry.h"

#include "app/Settings.h"

int TRegistryStore::ReadInt(const std::string& name, int def)
{
    return ReadSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, TSettingValue(int32_t(def))).AsInteger();
}

bool TRegistryStore::ReadBool(const std::string& name, bool def)
{
    return ReadSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, TSettingValue(def)).AsBoolean();
}

std::string TRegistryStore::ReadText(const std::string& name, const std::string& def)
{
    return ReadSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, TSettingValue(def)).AsText();
}

void TRegistryStore::WriteInt(const std::string& name, int value)
{
    WriteSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, TSettingValue(int32_t(value)));
}

void TRegistryStore::WriteBool(const std::string& name, bool value)
{
    WriteSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, TSettingValue(value));
}

void TRegistryStore::WriteText(const std::string& name, const std::string& value)
{
    WriteSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, TSettingValue(value));
}
