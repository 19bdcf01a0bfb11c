// An LV2 host for tests: lilv reads the built bundle alone, exactly as hosts
// find it, and instances run through the plug-in's descriptor with the
// features a host passes (URID map, buf-size options). Linux only.
#pragma once

#include "lv2/Lv2Ports.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class UridMap {
public:
    LV2_URID map(const char* uri)
    {
        for (std::size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    LV2_URID_Map* feature() { return &interface; }

private:
    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri)
    {
        return static_cast<UridMap*>(handle)->map(uri);
    }
    std::vector<std::string> uris;
    LV2_URID_Map interface {
        this, mapUri
    };
};

// The bundle in build/<target>/Grindlemark.lv2, loaded into a world of its own.
class Lv2Bundle {
public:
    Lv2Bundle() : world(lilv_world_new())
    {
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, GRINDLEMARK_LV2_BUNDLE);
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* pluginUri = node(kLv2PluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    }
    ~Lv2Bundle()
    {
        for (LilvNode* made : nodes)
            lilv_node_free(made);
        lilv_world_free(world);
    }
    Lv2Bundle(const Lv2Bundle&) = delete;
    Lv2Bundle& operator=(const Lv2Bundle&) = delete;

    // A URI node that lives as long as the bundle.
    LilvNode* node(const std::string& uri)
    {
        nodes.push_back(lilv_new_uri(world, uri.c_str()));
        return nodes.back();
    }

    LilvWorld* world;
    const LilvPlugin* plugin = nullptr;
    UridMap urids;

private:
    std::vector<LilvNode*> nodes;
};

// One instance with storage for every control port, all connected, holding
// the defaults the description gives; audio ports are connected by the test.
class Lv2TestInstance {
public:
    // maxBlock 0: the host announces no block length; withFeatures false: none at all.
    Lv2TestInstance(Lv2Bundle& bundle, double rate, int maxBlock = 0, bool withFeatures = true)
        : bundle(bundle), maxBlock(maxBlock)
    {
        options[0] = {LV2_OPTIONS_INSTANCE,
                      0,
                      bundle.urids.map(LV2_BUF_SIZE__maxBlockLength),
                      sizeof(std::int32_t),
                      bundle.urids.map(LV2_ATOM__Int),
                      &this->maxBlock};
        options[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        mapFeature = {LV2_URID__map, bundle.urids.feature()};
        optionsFeature = {LV2_OPTIONS__options, options};
        std::size_t count = 0;
        if (withFeatures) {
            features[count++] = &mapFeature;
            if (maxBlock > 0)
                features[count++] = &optionsFeature;
        }
        features[count] = nullptr;
        instance = lilv_plugin_instantiate(bundle.plugin, rate, withFeatures ? features : nullptr);
        if (!instance)
            return;
        std::vector<float> defaults(lilv_plugin_get_num_ports(bundle.plugin));
        lilv_plugin_get_port_ranges_float(bundle.plugin, nullptr, nullptr, defaults.data());
        for (std::uint32_t port = 0; port < kNumParameters; ++port) {
            controls[port] = defaults[port];
            lilv_instance_connect_port(instance, port, &controls[port]);
        }
        lilv_instance_connect_port(instance, kLv2Latency, &latency);
    }
    ~Lv2TestInstance()
    {
        if (!instance)
            return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    Lv2TestInstance(const Lv2TestInstance&) = delete;
    Lv2TestInstance& operator=(const Lv2TestInstance&) = delete;

    void connectAudio(const float* inLeft, const float* inRight, float* outLeft, float* outRight)
    {
        lilv_instance_connect_port(instance, kLv2InputLeft, const_cast<float*>(inLeft));
        lilv_instance_connect_port(instance, kLv2InputRight, const_cast<float*>(inRight));
        lilv_instance_connect_port(instance, kLv2OutputLeft, outLeft);
        lilv_instance_connect_port(instance, kLv2OutputRight, outRight);
    }

    // Port values as a host applies a preset: the state lilv reads from the
    // preset's description, emitted port by port.
    bool applyPreset(int program)
    {
        LilvNode* preset = bundle.node(kLv2PresetUriPrefix + std::to_string(program));
        lilv_world_load_resource(bundle.world, preset);
        LilvState* state = lilv_state_new_from_world(bundle.world, bundle.urids.feature(), preset);
        if (!state)
            return false;
        lilv_state_emit_port_values(state, setPortValue, this);
        lilv_state_free(state);
        return true;
    }

    void activate() { lilv_instance_activate(instance); }
    void run(std::uint32_t frames) { lilv_instance_run(instance, frames); }
    LV2_Handle handle() const { return lilv_instance_get_handle(instance); }

    LilvInstance* instance = nullptr;
    std::array<float, kNumParameters> controls{};
    float latency = -1.0f;
    int presetPortsSet = 0;

private:
    static void setPortValue(const char* symbol, void* user, const void* value, std::uint32_t size, std::uint32_t type)
    {
        auto& self = *static_cast<Lv2TestInstance*>(user);
        if (type != self.bundle.urids.map(LV2_ATOM__Float) || size != sizeof(float))
            return;
        for (std::uint32_t index = 0; index < kNumParameters; ++index) {
            const LilvPort* candidate = lilv_plugin_get_port_by_index(self.bundle.plugin, index);
            if (!std::strcmp(lilv_node_as_string(lilv_port_get_symbol(self.bundle.plugin, candidate)), symbol)) {
                std::memcpy(&self.controls[index], value, sizeof(float));
                ++self.presetPortsSet;
            }
        }
    }

    Lv2Bundle& bundle;
    std::int32_t maxBlock;
    LV2_Options_Option options[2]{};
    LV2_Feature mapFeature{};
    LV2_Feature optionsFeature{};
    const LV2_Feature* features[3] = {};
};
