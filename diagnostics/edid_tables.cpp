#include "diagnostics/edid_tables.h"

namespace ktq::edid {

namespace {

// Looks a code up in a table of texts; codes past its end have no text.
template <std::size_t N>
const char* TextOrEmpty(const std::array<const char*, N>& table, uint32_t code) {
  return code < N ? table[code] : "";
}

constexpr std::array<const char*, 6> kInterfaceNames = {
    "Undefined", "DVI", "HDMI-a", "HDMI-b", "MDDI", "DisplayPort",
};

constexpr std::array<const char*, 16> kAudioFormatNames = {
    "Reserved",     "Linear PCM",      "AC-3",        "MPEG1 (Layers 1 & 2)",
    "MP3 (MPEG1 Layer 3)", "MPEG2 (multichannel)", "AAC", "DTS",
    "ATRAC",        "One Bit Audio",   "Dolby Digital +", "DTS-HD",
    "MAT (MLP)",    "DST",             "WMA Pro",     "Reserved",
};

constexpr std::array<const char*, 7> kMaxFrlRateTexts = {
    "FRL is not supported. ",
    "FRL@ 3 Gbps 3 lanes. ",
    "FRL@ 3/6 Gbps 3 lanes. ",
    "FRL@ 3/6 Gbps 3 lanes, 6 Gbps 4 lanes. ",
    "FRL@ 3/6 Gbps 3 lanes, 6/8 Gbps 4 lanes. ",
    "FRL@ 3/6 Gbps 3 lanes, 6/8/10 Gbps 4 lanes. ",
    "FRL@ 3/6 Gbps 3 lanes, 6/8/10/12 Gbps 4 lanes. ",
};

constexpr std::array<const char*, 8> kDscMaxSlicesTexts = {
    "Not support", "1(340Mhz)", "2(340Mhz)", "4(340Mhz)",
    "8(340Mhz)",   "8(400Mhz)", "12(400Mhz)", "16(400Mhz)",
};

constexpr std::array<const char*, 7> kDscMaxFrlRateTexts = {
    "Not support", "3 Gps", "6 Gps(3Ln)", "6 Gps(4Ln)", "8 Gps", "10 Gps", "12 Gps",
};

}  // namespace

const std::array<const char*, kVicNameCount> kVicNames = {
    /*   0 */ "Undefined", "640x480p@60Hz", "720x480p@60Hz", "720x480p@60Hz",
    /*   4 */ "1280x720p@60Hz", "1920x1080i@60Hz", "720(1440)x480i@60Hz", "720(1440)x480i@60Hz",
    /*   8 */ "720(1440)x240p@60Hz", "720(1440)x240p@60Hz", "2880x480i@60Hz", "2880x480i@60Hz",
    /*  12 */ "2880x240p@60Hz", "2880x240p@60Hz", "1440x480p@60Hz", "1440x480p@60Hz",
    /*  16 */ "1920x1080p@60Hz", "720x576p@50Hz", "720x576p@50Hz", "1280x720p@50Hz",
    /*  20 */ "1920x1080i@50Hz", "720(1440)x576i@50Hz", "720(1440)x576i@50Hz", "720(1440)x288p@50Hz",
    /*  24 */ "720(1440)x288p@50Hz", "2880x576i@50Hz", "2880x576i@50Hz", "2880x288p@50Hz",
    /*  28 */ "2880x288p@50Hz", "1440x576p@50Hz", "1440x576p@50Hz", "1920x1080p@50Hz",
    /*  32 */ "1920x1080p@24Hz", "1920x1080p@25Hz", "1920x1080p@30Hz", "2880x480p@60Hz",
    /*  36 */ "2880x480p@60Hz", "2880x576p@50Hz", "2880x576p@50Hz", "1920x1080i@50Hz",
    /*  40 */ "1920x1080i@100Hz", "1280x720p@100Hz", "720x576p@100Hz", "720x576p@100Hz",
    /*  44 */ "720(1440)x576i@100Hz", "720(1440)x576i@100Hz", "1920x1080i@120Hz", "1280x720p@120Hz",
    /*  48 */ "720x480p@120Hz", "720x480p@120Hz", "720(1440)x480i@120Hz", "720(1440)x480i@120Hz",
    /*  52 */ "720x576p@200Hz", "720x576p@200Hz", "720(1440)x576i@200Hz", "720(1440)x576i@200Hz",
    /*  56 */ "720x480p@240Hz", "720x480p@240Hz", "720(1440)x480i@240Hz", "720(1440)x480i@240Hz",
    /*  60 */ "1280x720p@24Hz", "1280x720p@25Hz", "1280x720p@30Hz", "1920x1080p@120Hz",
    /*  64 */ "1920x1080p@100Hz", "1280x720p@24Hz", "1280x720p@25Hz", "1280x720p@30Hz",
    /*  68 */ "1280x720p@50Hz", "1280x720p@60Hz", "1280x720p@100Hz", "1280x720p@120Hz",
    /*  72 */ "1920x1080p@24Hz", "1920x1080p@25Hz", "1920x1080p@30Hz", "1920x1080p@50Hz",
    /*  76 */ "1920x1080p@60Hz", "1920x1080p@100Hz", "1920x1080p@120Hz", "1680x720p@24Hz",
    /*  80 */ "1680x720p@25Hz", "1680x720p@30Hz", "1680x720p@50Hz", "1680x720p@60Hz",
    /*  84 */ "1680x720p@100Hz", "1680x720p@120Hz", "2560x1080p@24Hz", "2560x1080p@25Hz",
    /*  88 */ "2560x1080p@30Hz", "2560x1080p@50Hz", "2560x1080p@60Hz", "2560x1080p@100Hz",
    /*  92 */ "2560x1080p@120Hz", "3840x2160p@24Hz", "3840x2160p@25Hz", "3840x2160p@30Hz",
    /*  96 */ "3840x2160p@50Hz", "3840x2160p@60Hz", "4096x2160p@24Hz", "4096x2160p@25Hz",
    /* 100 */ "4096x2160p@30Hz", "4096x2160p@50Hz", "4096x2160p@60Hz", "3840x2160p@24Hz",
    /* 104 */ "3840x2160p@25Hz", "3840x2160p@30Hz", "3840x2160p@50Hz", "3840x2160p@60Hz",
    /* 108 */ "1280x720p@48Hz", "1280x720p@48Hz", "1680x720p@48Hz", "1920x1080p@48Hz",
    /* 112 */ "1920x1080p@48Hz", "2560x1080p@48Hz", "3840x2160p@48Hz", "4096x2160p@48Hz",
    /* 116 */ "3840x2160p@48Hz", "3840x2160p@100Hz", "3840x2160p@120Hz", "3840x2160p@100Hz",
    /* 120 */ "3840x2160p@120Hz", "5120x2160p@24Hz", "5120x2160p@25Hz", "5120x2160p@30Hz",
    /* 124 */ "5120x2160p@48Hz", "5120x2160p@50Hz", "5120x2160p@60Hz", "5120x2160p@100Hz",
    /* 128 */ "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 141 */ "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 154 */ "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 167 */ "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 180 */ "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 193 */ "5120x2160p@120Hz", "7680x4320p@24Hz", "7680x4320p@25Hz", "7680x4320p@30Hz",
    /* 197 */ "7680x4320p@48Hz", "7680x4320p@50Hz", "7680x4320p@60Hz", "7680x4320p@100Hz",
    /* 201 */ "7680x4320p@120Hz", "7680x4320p@24Hz", "7680x4320p@25Hz", "7680x4320p@30Hz",
    /* 205 */ "7680x4320p@48Hz", "7680x4320p@50Hz", "7680x4320p@60Hz", "7680x4320p@100Hz",
    /* 209 */ "7680x4320p@120Hz", "10240x4320p@24Hz", "10240x4320p@25Hz", "10240x4320p@30Hz",
    /* 213 */ "10240x4320p@48Hz", "10240x4320p@50Hz", "10240x4320p@60Hz", "10240x4320p@100Hz",
    /* 217 */ "10240x4320p@120Hz", "4096x2160p@100Hz", "4096x2160p@120Hz",
};

const char* VicName(uint32_t vic) { return TextOrEmpty(kVicNames, vic); }

const char* InterfaceName(uint32_t code) {
  return code < kInterfaceNames.size() ? kInterfaceNames[code] : "Undefined";
}

const char* AudioFormatName(uint32_t code) { return TextOrEmpty(kAudioFormatNames, code); }

const std::array<const char*, 7> kSamplingRateNames = {
    "32K", "44.1K", "48K", "88.2K", "96K", "176.4K", "192K",
};

const std::array<const char*, 7> kSpeakerNames = {
    "FL/FR", "LFE", "FC", "RL/RR", "RC", "FLC/FRC", "RLC/RRC",
};

const FlagNames kHfByte6Flags = {
    "3D_OSD_Disparity", "Dual_View", "Independent_view", "LTE_340Mcsc_scramble",
    "CCBPCI",           nullptr,     "RR_Capable",       "SCDC_Present",
};
const FlagNames kHfByte7Flags = {
    "DC_30bit_420", "DC_36bit_420", "DC_48bit_420", nullptr, nullptr, nullptr, nullptr, nullptr,
};
const FlagNames kHfByte8Flags = {
    "FAPA_start_location", "ALLM", "FVA", "CNMVRR", "CinemaCRR", "Mdelta", nullptr, nullptr,
};
const FlagNames kHfByte11Flags = {
    "DSC_10bpc", "DSC_12bpc", "DSC_16bpc", "DSC_ALL_bpp",
    nullptr,     nullptr,     "DSC_Native_420", "DSC_1p2",
};

const char* MaxFrlRateText(uint32_t code) { return TextOrEmpty(kMaxFrlRateTexts, code); }
const char* DscMaxSlicesText(uint32_t code) { return TextOrEmpty(kDscMaxSlicesTexts, code); }
const char* DscMaxFrlRateText(uint32_t code) { return TextOrEmpty(kDscMaxFrlRateTexts, code); }

}  // namespace ktq::edid
