// The first NVIDIA GPU's temperature through NVIDIA's management library
// (NVML), loaded for the length of one probe and unloaded again. The program
// does not link against the library: it relies only on the five exports
// below, their calls and their return codes (0 meaning success).
#include "probes.h"

#include <cstdint>

namespace {

// The library's own declarations, as far as this probe uses them. Every
// function returns a return code and uses the C calling convention (on
// x86-64 there is only one).
using nvml_return = int;
using nvml_device = struct nvml_device_record*;
constexpr nvml_return nvml_success = 0;
// NVML_TEMPERATURE_GPU: the GPU core sensor.
constexpr int nvml_temperature_gpu = 0;

using nvml_init_function = nvml_return (*)();
using nvml_shutdown_function = nvml_return (*)();
using nvml_device_get_count_function = nvml_return (*)(unsigned int* device_count);
using nvml_device_get_handle_by_index_function = nvml_return (*)(unsigned int index,
                                                                 nvml_device* device);
using nvml_device_get_temperature_function = nvml_return (*)(nvml_device device, int sensor_type,
                                                             unsigned int* temperature);

// Tried in this order. The driver installs the library in the system folder,
// and only that folder is searched: a bare-name load would also search the
// application's folder, the current folder and every folder on PATH, where
// anyone could plant a library of that name to run inside this process.
constexpr const wchar_t* library_names[] = {L"nvml.dll", L"nvml64.dll"};

struct nvml_functions {
    nvml_init_function init;
    nvml_shutdown_function shutdown;
    nvml_device_get_count_function device_get_count;
    nvml_device_get_handle_by_index_function device_get_handle_by_index;
    nvml_device_get_temperature_function device_get_temperature;
};

HMODULE load_library()
{
    for (const wchar_t* name : library_names) {
        const HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (library != nullptr) {
            return library;
        }
    }
    return nullptr;
}

// GetProcAddress gives a generic function pointer; casting it through
// void (*)() to the export's true type is the one portable way to say so.
template <typename function> bool look_up(HMODULE library, const char* name, function& address)
{
    const FARPROC found = GetProcAddress(library, name);
    address = reinterpret_cast<function>(reinterpret_cast<void (*)()>(found));
    return found != nullptr;
}

// All five are looked up before any is called, so that a library that lacks
// one is never initialised.
bool look_up_functions(HMODULE library, nvml_functions& functions)
{
    bool found = look_up(library, "nvmlInit_v2", functions.init);
    found = look_up(library, "nvmlShutdown", functions.shutdown) && found;
    found = look_up(library, "nvmlDeviceGetCount_v2", functions.device_get_count) && found;
    found =
        look_up(library, "nvmlDeviceGetHandleByIndex_v2", functions.device_get_handle_by_index) &&
        found;
    found = look_up(library, "nvmlDeviceGetTemperature", functions.device_get_temperature) && found;
    return found;
}

// Between a successful initialisation and its shutdown. True, with the
// temperature, when device 0 answers.
bool read_first_device(const nvml_functions& functions, unsigned int& temperature)
{
    unsigned int device_count = 0;
    if (functions.device_get_count(&device_count) != nvml_success || device_count == 0) {
        return false;
    }
    nvml_device device = nullptr;
    if (functions.device_get_handle_by_index(0, &device) != nvml_success) {
        return false;
    }
    return functions.device_get_temperature(device, nvml_temperature_gpu, &temperature) ==
           nvml_success;
}

} // namespace

void probe_nvidia_temperature(system_readings& readings)
{
    const HMODULE library = load_library();
    if (library == nullptr) {
        return;
    }
    nvml_functions functions{};
    bool has_reading = false;
    unsigned int temperature = 0;
    if (look_up_functions(library, functions) && functions.init() == nvml_success) {
        has_reading = read_first_device(functions, temperature);
        functions.shutdown();
    }
    FreeLibrary(library);

    if (has_reading) {
        readings.nvidia_celsius = static_cast<std::uint32_t>(temperature);
        readings.has_nvidia_temp = true;
    }
}
