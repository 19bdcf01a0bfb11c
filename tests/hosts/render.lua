-- Renders the test signal through one plug-in in a headless Ardour session
-- and exports the master bus. Settings come from the environment (see
-- tests/hosts/ardour-render): GM_SESSION, GM_FORMAT, GM_PLUGIN, GM_PROGRAM,
-- GM_PARAMETERS ("index=value,..."), GM_SECONDS, GM_OUTPUT_FOLDER, GM_OUTPUT_NAME.
local function fail (message)
	error ("render: " .. message, 0)
end

local function render ()

local rate = 48000
local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
if not backend then fail ("no dummy backend") end
backend:set_device_name ("Silence")
backend:set_sample_rate (rate)
if AudioEngine:start (false) ~= 0 then fail ("the audio engine did not start") end

local session = create_session (os.getenv ("GM_SESSION"), "render", rate)
if not session then fail ("no session") end

local types = { VST2 = ARDOUR.PluginType.LXVST, VST3 = ARDOUR.PluginType.VST3, LV2 = ARDOUR.PluginType.LV2 }
local plugin_type = types[os.getenv ("GM_FORMAT")]
if not plugin_type then fail ("unknown format " .. tostring (os.getenv ("GM_FORMAT"))) end

local buses = session:new_audio_route (2, 2, nil, 1, "Guitar", ARDOUR.PresentationInfo.Flag.AudioBus, -1)
local bus = buses:front ()
local signal = ARDOUR.LuaAPI.new_luaproc (session, "Grindlemark Test Signal")
if signal:isnil () then fail ("the test signal script was not found") end
bus:add_processor_by_index (signal, 0, nil, true)

local processor = ARDOUR.LuaAPI.new_plugin (session, os.getenv ("GM_PLUGIN"), plugin_type, "")
if processor:isnil () then fail ("Ardour found no " .. os.getenv ("GM_FORMAT") .. " plug-in " .. os.getenv ("GM_PLUGIN")) end
if bus:add_processor_by_index (processor, 1, nil, true) ~= 0 then fail ("the plug-in could not be added") end
local plugin = processor:to_insert ():plugin (0)
print ("render: loaded " .. plugin:name () .. " (" .. plugin:get_info ().unique_id .. ")")

-- A program by its name, or by its number among the factory presets.
local program = os.getenv ("GM_PROGRAM") or ""
if program ~= "" then
	local preset = plugin:preset_by_label (program)
	if not preset and program:match ("^%d+$") then
		local n = 0
		for record in plugin:get_info ():get_presets (false):iter () do
			if n == tonumber (program) then preset = plugin:preset_by_uri (record.uri) end
			n = n + 1
		end
	end
	if not preset then fail ("no preset " .. program) end
	if not plugin:load_preset (preset) then fail ("the preset did not load") end
	print ("render: preset " .. preset.label .. " (" .. preset.uri .. ")")
end
for index, value in string.gmatch (os.getenv ("GM_PARAMETERS") or "", "(%d+)=(-?[%d.]+)") do
	if not ARDOUR.LuaAPI.set_processor_param (processor, tonumber (index), tonumber (value)) then
		fail ("parameter " .. index .. " could not be set")
	end
end
local shown = {}
for i = 0, 7 do
	local value, ok = ARDOUR.LuaAPI.get_processor_param (processor, i, true)
	shown[#shown + 1] = string.format ("%d=%.4f", i, value)
end
print ("render: parameters " .. table.concat (shown, " "))

local frames = math.floor (tonumber (os.getenv ("GM_SECONDS") or "4") * rate)
local export = session:simple_export ()
export:set_folder (os.getenv ("GM_OUTPUT_FOLDER"))
export:set_name (os.getenv ("GM_OUTPUT_NAME"))
export:set_range (0, frames)
if not export:set_preset ("3f0c2a5e-6d4b-4c1e-9a57-1b2d8e7f4a90") then fail ("no 32-bit float export preset") end
if not export:run_export () then fail ("the export failed") end
print ("render: exported " .. frames .. " frames")
end

local ok, message = pcall (render)
if not ok then print (message) end
-- The engine stops before the session goes, so no process cycle meets a
-- plug-in being torn down.
AudioEngine:stop (false)
close_session ()
quit ()
