#include "sim/hid_device_list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ktq::sim {

namespace {

// The HID library's texts are wchar_t; scenarios and traces keep UTF-8.
wchar_t* WideFromUtf8(const std::string& text) {
  auto* out = static_cast<wchar_t*>(std::calloc(text.size() + 1, sizeof(wchar_t)));
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    uint32_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
    bool valid = extra >= 0 && i + static_cast<size_t>(extra) < text.size() + (extra == 0 ? 1 : 0);
    for (int k = 1; valid && k <= extra; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      valid = (cont & 0xC0) == 0x80;
      code = code << 6 | (cont & 0x3F);
    }
    out[n++] = static_cast<wchar_t>(valid ? code : 0xFFFD);
    i += valid ? static_cast<size_t>(extra) + 1 : 1;
  }
  return out;
}

}  // namespace

hid_device_info* NewHidDeviceInfo(const DeviceIdentity& id) {
  auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
  info->path = strdup(id.path.c_str());
  info->vendor_id = id.vendorId;
  info->product_id = id.productId;
  info->serial_number = WideFromUtf8(id.serial);
  info->manufacturer_string = WideFromUtf8(id.manufacturer);
  info->product_string = WideFromUtf8(id.product);
  info->usage_page = 0xFF00;
  info->usage = 0x01;
  info->interface_number = id.interfaceNumber;
  info->bus_type = HID_API_BUS_USB;
  return info;
}

void FreeHidDeviceInfoList(hid_device_info* list) {
  while (list) {
    hid_device_info* next = list->next;
    std::free(list->path);
    std::free(list->serial_number);
    std::free(list->manufacturer_string);
    std::free(list->product_string);
    std::free(list);
    list = next;
  }
}

}  // namespace ktq::sim
