-- Wireshark dissector for the vorex laser profile sensor protocol: the
-- service channel (discovery, parameters, image, firmware, log) and the
-- profile datagrams on the data channel.
--
-- Load it for one run:  wireshark -X lua_script:vorex.lua capture.pcap
--                       tshark -X lua_script:vorex.lua -r capture.pcap
-- or copy it into ~/.local/lib/wireshark/plugins/ (installed packages put it
-- into the global Lua plugin folder, so it loads by itself).
--
-- Discovery runs on UDP port 50011. The service and data ports are learnt
-- from the discovery replies in the capture; without one, heuristics on the
-- header and the profile sizes find the packets.

local discovery_port = 50011
local header_size = 14
local record_size = 524

local vorex = Proto("vorex", "vorex sensor service protocol")
local vorex_profile = Proto("vorex_profile", "vorex sensor profile")

local classes = {[0x50] = "whole block (P)", [0x5E] = "discovery, groups, log (^)", [0x53] = "image (S)",
                 [0x5A] = "firmware (Z)"}
local types = {[1] = "request", [2] = "acknowledgement"}

-- The eleven parameter groups by number k: read code 2k+1, write code 2k+2.
local groups = {
    {"general", 192}, {"sysmon", 82}, {"tavikcompat", 35}, {"sensor", 83}, {"roi", 91}, {"network", 93},
    {"stream", 35}, {"image_processing", 71}, {"laser", 36}, {"inputs", 345}, {"outputs", 54},
}

local f = vorex.fields
f.flags = ProtoField.uint8("vorex.flags", "Flags", base.HEX)
f.type = ProtoField.uint8("vorex.flags.type", "Type", base.DEC, types, 0xF0)
f.ack_required = ProtoField.bool("vorex.flags.ack_required", "Acknowledgement required", 8, nil, 0x08)
f.bit2 = ProtoField.bool("vorex.flags.bit2", "Bit 2", 8, nil, 0x04)
f.low_bits = ProtoField.uint8("vorex.flags.low", "Low bits", base.HEX, nil, 0x03)
f.reserved = ProtoField.bytes("vorex.reserved", "Reserved")
f.serial = ProtoField.uint32("vorex.serial", "Serial", base.DEC)
f.counter = ProtoField.uint16("vorex.counter", "Counter", base.DEC)
f.class = ProtoField.uint8("vorex.class", "Command class", base.HEX, classes)
f.code = ProtoField.uint8("vorex.code", "Command code", base.HEX)
f.command = ProtoField.string("vorex.command", "Command")
f.role = ProtoField.string("vorex.role", "Role")
f.payload_length = ProtoField.uint16("vorex.payload_length", "Payload length", base.DEC)
f.payload = ProtoField.bytes("vorex.payload", "Payload")

f.dev_serial = ProtoField.uint32("vorex.device.serial", "Serial", base.DEC)
f.dev_ip = ProtoField.ipv4("vorex.device.ip_address", "IP address")
f.dev_mask = ProtoField.ipv4("vorex.device.subnet_mask", "Subnet mask")
f.dev_data_port = ProtoField.uint16("vorex.device.data_port", "Data port (on the host)", base.DEC)
f.dev_service_port = ProtoField.uint16("vorex.device.service_port", "Service port", base.DEC)
f.dev_mac = ProtoField.ether("vorex.device.mac_address", "MAC address")
f.dev_image_packet_size = ProtoField.int32("vorex.device.image_packet_size", "Image packet size", base.DEC)
f.dev_model = ProtoField.string("vorex.device.model", "Model text (opaque head)")
f.dev_opaque = ProtoField.bytes("vorex.device.opaque", "Opaque")

f.group = ProtoField.string("vorex.group", "Group")
f.group_data = ProtoField.bytes("vorex.group.data", "Group record")
f.block = ProtoField.bytes("vorex.block", "Parameter block")
f.image_offset = ProtoField.uint32("vorex.image.offset", "Image offset", base.DEC)
f.image_data = ProtoField.bytes("vorex.image.data", "Image chunk")
f.fw_offset = ProtoField.uint32("vorex.firmware.offset", "Firmware offset", base.DEC)
f.fw_data = ProtoField.bytes("vorex.firmware.data", "Firmware chunk")
f.fw_checksum = ProtoField.uint16("vorex.firmware.checksum", "Image checksum", base.HEX)
f.fw_completion = ProtoField.bytes("vorex.firmware.completion", "Completion")
f.log_index = ProtoField.uint32("vorex.log.index", "First record", base.DEC)
f.log_count = ProtoField.uint32("vorex.log.count", "Records in the log", base.DEC)
f.log_value = ProtoField.uint32("vorex.log.value", "Value", base.DEC)
f.log_record = ProtoField.bytes("vorex.log.record", "Log record")

local p = vorex_profile.fields
p.data_type = ProtoField.uint8("vorex_profile.data_type", "Data type", base.DEC,
    {[16] = "648 single values", [17] = "648 X/Z pairs", [18] = "1296 single values", [19] = "1296 X/Z pairs"})
p.z_scale = ProtoField.uint16("vorex_profile.z_scale", "Z scale", base.DEC)
p.x_scale = ProtoField.uint16("vorex_profile.x_scale", "X scale", base.DEC)
p.divisor = ProtoField.uint16("vorex_profile.scale_divisor", "Scale divisor", base.DEC)
p.points = ProtoField.uint16("vorex_profile.points", "Point count", base.DEC)
p.sensor_bytes = ProtoField.bytes("vorex_profile.sensor_bytes", "Sensor's header bytes")
p.samples = ProtoField.bytes("vorex_profile.samples", "Samples")

-- Data type: point count and whole datagram size.
local layouts = {[16] = {648, 1360}, [17] = {648, 2656}, [18] = {1296, 2656}, [19] = {1296, 5248}}

-- Sensors seen in discovery replies, by "address:service port"; the data
-- ports they named.
local sensors = {}
local data_ports = {}
local udp_table = DissectorTable.get("udp.port")

function vorex.init()
    sensors = {}
    data_ports = {}
end

-- The operation's name, by class and code (as the library names it).
local function command_name(class, code)
    if class == 0x50 then
        return ({[0x02] = "read_params", [0x03] = "write_params", [0x10] = "flush_params", [0x12] = "reboot"})[code]
    elseif class == 0x5E then
        if code == 0 then return "discovery" end
        if code == 0x17 then return "read_log" end
        if code == 0x18 then return "read_log_record_count" end
        if code >= 1 and code <= 22 then
            local g = groups[math.floor((code - 1) / 2) + 1]
            return (code % 2 == 1 and "read_" or "write_") .. g[1] .. "_params", g
        end
    elseif class == 0x53 then
        if code == 0x10 then return "get_image" end
    elseif class == 0x5A then
        return ({[0x20] = "firmware_data", [0x21] = "firmware_check", [0x22] = "flush_firmware_image"})[code]
    end
    return nil
end

-- Whether the packet goes to a known sensor's service port (true), comes
-- from one (false), or neither is known (nil).
local function to_sensor(pinfo)
    if sensors[tostring(pinfo.dst) .. ":" .. pinfo.dst_port] then return true end
    if sensors[tostring(pinfo.src) .. ":" .. pinfo.src_port] then return false end
    return nil
end

local function add_device_record(tree, buf)
    local r = tree:add(vorex, buf, "Device record")
    local head = buf(0, 66)
    r:add(f.dev_model, head, head:stringz())
    r:add_le(f.dev_serial, buf(66, 4))
    r:add(f.dev_ip, buf(140, 4))
    r:add(f.dev_mask, buf(144, 4))
    r:add_le(f.dev_data_port, buf(156, 2))
    r:add_le(f.dev_service_port, buf(160, 2))
    r:add(f.dev_mac, buf(166, 6))
    r:add_le(f.dev_image_packet_size, buf(198, 4))
    r:add(f.dev_opaque, buf(202, 322))
end

-- Learns a sensor from its discovery reply: its service port and the
-- host's data port go to this dissector from here on.
local function learn_sensor(buf)
    local ip = tostring(buf(140, 4):ipv4())
    local service = buf(160, 2):le_uint()
    local data = buf(156, 2):le_uint()
    if not sensors[ip .. ":" .. service] then
        sensors[ip .. ":" .. service] = true
        udp_table:add(service, vorex)
    end
    if not data_ports[data] then
        data_ports[data] = true
        udp_table:add(data, vorex_profile)
    end
end

-- The payload of each command, by role. Returns the role's text.
local function dissect_payload(tree, buf, class, code, group, direction, flags)
    local n = buf:len()
    local payload = n > 0 and buf(0, n) or nil
    if class == 0x5E and code == 0 then
        if n == record_size then
            add_device_record(tree, buf)
            learn_sensor(buf)
            return "reply"
        end
        return "request"
    elseif group then
        local writing = code % 2 == 0
        tree:add(f.group, group[1])
        if n == group[2] then tree:add(f.group_data, payload) end
        if n == 0 then return (writing and "reply") or "request" end
        return (writing and "request") or "reply"
    elseif class == 0x50 then
        if n == 1400 then
            tree:add(f.block, payload)
            return code == 0x02 and "reply" or "request"
        end
        if code == 0x02 then return "request" end
        return direction == false and "reply" or (direction == true and "request" or "request or reply")
    elseif class == 0x53 then
        if n == 1 then return "request" end
        if n >= 4 then
            tree:add_le(f.image_offset, buf(0, 4))
            if n > 4 then tree:add(f.image_data, buf(4, n - 4)) end
            return "image datagram, offset " .. buf(0, 4):le_uint()
        end
        return "image datagram"
    elseif class == 0x5A and code == 0x20 then
        if n >= 4 then
            tree:add_le(f.fw_offset, buf(0, 4))
            if n > 4 then tree:add(f.fw_data, buf(4, n - 4)) end
            return "chunk, offset " .. buf(0, 4):le_uint() .. ", " .. (n - 4) .. " bytes"
        end
        return "reply"
    elseif class == 0x5A and code == 0x21 then
        if n == 2 then
            tree:add_le(f.fw_checksum, buf(0, 2))
            return string.format("checksum reply 0x%04x", buf(0, 2):le_uint())
        end
        return "request"
    elseif class == 0x5A and code == 0x22 then
        if n == 4 then
            tree:add(f.fw_completion, payload)
            return "completion"
        end
        return direction == false and "reply" or (direction == true and "request" or "request or reply")
    elseif class == 0x5E and code == 0x17 then
        if n == 4 and direction ~= false then
            tree:add_le(f.log_index, buf(0, 4))
            return "request from record " .. buf(0, 4):le_uint()
        end
        if n >= 4 then
            tree:add_le(f.log_value, buf(0, 4))
            local count = math.floor((n - 4) / 136)
            for i = 0, count - 1 do tree:add(f.log_record, buf(4 + 136 * i, 136)) end
            return "reply, " .. count .. " records"
        end
        return "reply"
    elseif class == 0x5E and code == 0x18 then
        if n == 4 then
            tree:add_le(f.log_count, buf(0, 4))
            return "reply, " .. buf(0, 4):le_uint() .. " records"
        end
        return "request"
    end
    if payload then tree:add(f.payload, payload) end
    return ""
end

function vorex.dissector(buf, pinfo, root)
    if buf:len() < header_size then return 0 end
    pinfo.cols.protocol = "VOREX"
    local tree = root:add(vorex, buf(), "vorex service protocol")
    local flags = buf(0, 1):uint()
    local ft = tree:add(f.flags, buf(0, 1))
    ft:add(f.type, buf(0, 1))
    ft:add(f.ack_required, buf(0, 1))
    ft:add(f.bit2, buf(0, 1))
    ft:add(f.low_bits, buf(0, 1))
    tree:add(f.reserved, buf(1, 3))
    tree:add_le(f.serial, buf(4, 4))
    tree:add_le(f.counter, buf(8, 2))
    local class, code = buf(10, 1):uint(), buf(11, 1):uint()
    tree:add(f.class, buf(10, 1))
    tree:add(f.code, buf(11, 1))
    local name, group = command_name(class, code)
    name = name or string.format("unknown command 0x%02x 0x%02x", class, code)
    tree:add(f.command, buf(10, 2), name)
    tree:add_le(f.payload_length, buf(12, 2))

    local role
    if bit.rshift(flags, 4) == 2 then
        role = "acknowledgement"
    else
        local rest = buf:len() > header_size and buf(header_size):tvb() or ByteArray.new():tvb("empty")
        role = dissect_payload(tree, rest, class, code, group, to_sensor(pinfo), flags)
    end
    tree:add(f.role, role)
    local asks = bit.band(flags, 0x08) ~= 0 and bit.rshift(flags, 4) == 1 and " [ack required]" or ""
    pinfo.cols.info = string.format("%s %s%s, counter %d", name, role, asks, buf(8, 2):le_uint())
    return buf:len()
end

function vorex_profile.dissector(buf, pinfo, root)
    if buf:len() < 64 then return 0 end
    pinfo.cols.protocol = "VOREX"
    local tree = root:add(vorex_profile, buf(), "vorex profile")
    local data_type = buf(0, 1):uint()
    tree:add(p.data_type, buf(0, 1))
    tree:add(p.sensor_bytes, buf(1, 27))
    tree:add_le(p.z_scale, buf(28, 2))
    tree:add_le(p.x_scale, buf(30, 2))
    tree:add_le(p.divisor, buf(32, 2))
    tree:add(p.sensor_bytes, buf(34, 30))
    local layout = layouts[data_type]
    if layout then
        tree:add(p.points, buf(0, 1), layout[1])
        if buf:len() > 64 then tree:add(p.samples, buf(64)) end
        pinfo.cols.info = string.format("profile type %d, %d points", data_type, layout[1])
        if buf:len() < layout[2] then tree:add_expert_info(PI_MALFORMED, PI_ERROR, "shorter than its type") end
    else
        pinfo.cols.info = string.format("malformed profile (type %d)", data_type)
        tree:add_expert_info(PI_MALFORMED, PI_ERROR, "unknown data type")
    end
    return buf:len()
end

-- Without a discovery reply in the capture: a header whose payload length
-- matches the datagram and whose class is known, or a datagram of exactly
-- a profile's size and type.
local function heuristic(buf, pinfo, root)
    local n = buf:len()
    if n >= header_size and classes[buf(10, 1):uint()] and buf(12, 2):le_uint() == n - header_size then
        local t = bit.rshift(buf(0, 1):uint(), 4)
        if t == 1 or t == 2 then
            vorex.dissector(buf, pinfo, root)
            return true
        end
    end
    local layout = n >= 64 and layouts[buf(0, 1):uint()]
    if layout and layout[2] == n then
        vorex_profile.dissector(buf, pinfo, root)
        return true
    end
    return false
end

udp_table:add(discovery_port, vorex)
vorex:register_heuristic("udp", heuristic)
