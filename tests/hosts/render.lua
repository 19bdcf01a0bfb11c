-- Renders the test signal through one plug-in in a headless Ardour session
-- and exports the master bus. Settings come from the environment (see
-- tests/hosts/ardour-render): GM_SESSION, GM_FORMAT, GM_PLUGIN, GM_PROGRAM,
-- GM_PARAMETERS ("index=value,..."), GM_SECONDS, GM_OUTPUT_FOLDER, GM_OUTPUT_NAME.
-- With GM_BESIDE_FORMAT (and GM_BESIDE_PLUGIN, GM_BESIDE_PROGRAM,
-- GM_BESIDE_PARAMETERS) a second plug-in runs on a bus of its own beside the
-- first, both starting in the same process cycle; the master's two channels
-- are then the left outputs of the first and of the second.
local function fail (message)
	error ("render: " .. message, 0)
end

-- The export outlives the engine: Ardour 7.3 finishes an export on the
-- engine's thread after run_export returns, and a collected exporter freed
-- meanwhile corrupts its heap.
local export

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

-- A bus with the test signal and the plug-in after it, a program loaded and
-- values set. Inactive, the plug-in processes nothing until activated.
local function add_plugin (number, format, name, program, values, active)
	local plugin_type = types[format]
	if not plugin_type then fail ("unknown format " .. tostring (format)) end
	local buses = session:new_audio_route (2, 2, nil, 1, "Guitar " .. number, ARDOUR.PresentationInfo.Flag.AudioBus, -1)
	local bus = buses:front ()
	local signal = ARDOUR.LuaAPI.new_luaproc (session, "Grindlemark Test Signal")
	if signal:isnil () then fail ("the test signal script was not found") end
	bus:add_processor_by_index (signal, 0, nil, true)

	local processor = ARDOUR.LuaAPI.new_plugin (session, name, plugin_type, "")
	if processor:isnil () then fail ("Ardour found no " .. format .. " plug-in " .. name) end
	if bus:add_processor_by_index (processor, 1, nil, active) ~= 0 then fail ("the plug-in could not be added") end
	local plugin = processor:to_insert ():plugin (0)
	print ("render: loaded " .. plugin:name () .. " (" .. plugin:get_info ().unique_id .. ")")

	-- A program by its name, or by its number among the factory presets.
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
	for index, value in string.gmatch (values, "(%d+)=(-?[%d.]+)") do
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
	return bus, processor
end

local beside = os.getenv ("GM_BESIDE_FORMAT") or ""
local bus, processor = add_plugin (1, os.getenv ("GM_FORMAT"), os.getenv ("GM_PLUGIN"), os.getenv ("GM_PROGRAM") or "",
                                   os.getenv ("GM_PARAMETERS") or "", beside == "")
if beside ~= "" then
	local other_bus, other = add_plugin (2, beside, os.getenv ("GM_BESIDE_PLUGIN"), os.getenv ("GM_BESIDE_PROGRAM") or "",
	                                     os.getenv ("GM_BESIDE_PARAMETERS") or "", false)
	-- Both take effect at the start of the next cycle, so the two plug-ins see
	-- the same calls from their first on: their outputs can be compared sample
	-- for sample, which renders from separate runs cannot (a run's processing
	-- before its export depends on its timing).
	processor:activate ()
	other:activate ()
	local master = session:master_out ()
	for channel, route in ipairs ({ bus, other_bus }) do
		route:output ():disconnect_all (nil)
		if route:output ():audio (0):connect (master:input ():audio (channel - 1):name ()) ~= 0 then
			fail ("bus " .. channel .. " could not be connected to the master")
		end
	end
end

local frames = math.floor (tonumber (os.getenv ("GM_SECONDS") or "4") * rate)
export = session:simple_export ()
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
export = nil
close_session ()
quit ()
