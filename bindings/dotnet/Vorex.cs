// C# wrapper over the vorex C interface (vorex_c.h) by P/Invoke. The same
// source serves Windows (vorex_c.dll) and Linux (libvorex_c.so, Mono or
// .NET); compile with -define:VOREXD for a 32-bit process, which loads the
// 32-bit library vorexd_c.
//
// Every operation blocks as the library's does. A failed operation throws
// VorexException with the library's error text; the exceptions are
// GetResult, which returns null when no profile came in time, and
// ReadLogRecordCount, which returns 0 on failure as the library does.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Vorex
{
    /// <summary>A failed library operation; Message holds the library's error text.</summary>
    public class VorexException : Exception
    {
        public VorexException(string operation, string libraryText)
            : base(operation + " failed: " + libraryText)
        {
            Operation = operation;
            LibraryText = libraryText;
        }

        public string Operation { get; private set; }
        public string LibraryText { get; private set; }
    }

    /// <summary>The parameter groups, in the block's order.</summary>
    public enum Group
    {
        General, Sysmon, Tavikcompat, Sensor, Roi, Network, Stream, ImageProcessing, Laser, Inputs, Outputs
    }

    /// <summary>One profile: the 64-byte header as sent, and the decoded points.</summary>
    public sealed class Profile
    {
        public byte[] Header { get; internal set; }
        public int DataType { get { return Header[0]; } }
        public double[] X { get; internal set; }
        public double[] Z { get; internal set; }
        /// <summary>The raw sample of every point index (meaningful for the single-value types 16 and 18).</summary>
        public ushort[] RawValues { get; internal set; }
    }

    internal static class Native
    {
#if VOREXD
        internal const string Library = "vorexd_c";
#else
        internal const string Library = "vorex_c";
#endif
        internal const int DeviceInfoSize = 524;
        internal const int UserParamsSize = 1400;
        internal const int ProfileHeaderSize = 64;
        internal const int LogRecordSize = 136;
        internal const int ImageSize = 316224;
        internal const int MaxPoints = 1296;

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate void ProgressFn(ulong done, ulong total, IntPtr context);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_init();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern void vorex_c_cleanup();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern uint vorex_c_version();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_search(out int done);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern UIntPtr vorex_c_list_count(IntPtr list);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_list_session(IntPtr list, UIntPtr index);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern void vorex_c_free_list(IntPtr list);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_open(byte[] info, ushort firstCounter);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_share(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern void vorex_c_free_session(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_connect(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern void vorex_c_disconnect(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_info(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_params(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr vorex_c_error_msg(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_read_params(IntPtr session, [Out] byte[] block);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_write_params(IntPtr session, byte[] block);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_flush_params(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_reset_params(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_reboot(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern UIntPtr vorex_c_group_size(int group);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_read_group(IntPtr session, int group, [Out] byte[] record, UIntPtr size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_write_group(IntPtr session, int group, byte[] record, UIntPtr size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vorex_c_get_result(IntPtr session, [Out] byte[] header, [Out] double[] points, UIntPtr pointCapacity,
                                                      out UIntPtr pointCount, [Out] ushort[] rawValues, UIntPtr rawCapacity, out UIntPtr rawCount);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_get_image(IntPtr session, [Out] byte[] image, UIntPtr size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vorex_c_write_firmware_image(IntPtr session, [MarshalAs(UnmanagedType.LPStr)] string path, ProgressFn progress, IntPtr context);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_flush_firmware_image(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_read_log(IntPtr session, uint index, [Out] byte[] records, int count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern uint vorex_c_read_log_record_count(IntPtr session);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)] internal static extern int vorex_c_read_log_record_count_checked(IntPtr session, out uint count);
    }

    /// <summary>The library's lifetime and discovery.</summary>
    public static class Library
    {
        /// <summary>Starts the library; throws when the socket layer did not start.</summary>
        public static void Init()
        {
            if (Native.vorex_c_init() == 0) throw new VorexException("init", "the socket layer did not start");
        }

        public static void Cleanup() { Native.vorex_c_cleanup(); }

        public static uint Version { get { return Native.vorex_c_version(); } }

        /// <summary>One disconnected session per sensor that answered, in the order found.</summary>
        public static Session[] Search()
        {
            int done;
            IntPtr list = Native.vorex_c_search(out done);
            if (list == IntPtr.Zero) throw new OutOfMemoryException("vorex search");
            try
            {
                int count = (int)Native.vorex_c_list_count(list);
                var sessions = new Session[count];
                // Each session gets a handle of its own, so it outlives the list.
                for (int i = 0; i < count; ++i)
                    sessions[i] = new Session(Native.vorex_c_share(Native.vorex_c_list_session(list, (UIntPtr)i)));
                return sessions;
            }
            finally
            {
                Native.vorex_c_free_list(list);
            }
        }
    }

    /// <summary>A session with one sensor. Dispose closes its sockets (with its last handle).</summary>
    public sealed class Session : IDisposable
    {
        IntPtr handle;

        internal Session(IntPtr handle)
        {
            if (handle == IntPtr.Zero) throw new OutOfMemoryException("vorex session");
            this.handle = handle;
        }

        /// <summary>A session for the sensor a 524-byte device record (kept from an earlier search) describes.</summary>
        public Session(byte[] deviceInfo, ushort firstCounter)
            : this(Native.vorex_c_open(CheckSize(deviceInfo, Native.DeviceInfoSize, "deviceInfo"), firstCounter)) { }

        ~Session() { Release(); }

        public void Dispose()
        {
            Release();
            GC.SuppressFinalize(this);
        }

        void Release()
        {
            if (handle == IntPtr.Zero) return;
            Native.vorex_c_free_session(handle);
            handle = IntPtr.Zero;
        }

        IntPtr Handle
        {
            get
            {
                if (handle == IntPtr.Zero) throw new ObjectDisposedException("Vorex.Session");
                return handle;
            }
        }

        static byte[] CheckSize(byte[] data, int size, string name)
        {
            if (data == null) throw new ArgumentNullException(name);
            if (data.Length < size) throw new ArgumentException(name + " needs " + size + " bytes", name);
            return data;
        }

        /// <summary>The library's text of the last failure (process-wide).</summary>
        public string ErrorMessage { get { return Marshal.PtrToStringAnsi(Native.vorex_c_error_msg(Handle)); } }

        void Check(int result, string operation)
        {
            if (result == 0) throw new VorexException(operation, ErrorMessage);
        }

        /// <summary>The session's 524-byte device record.</summary>
        public byte[] DeviceInfo
        {
            get
            {
                var info = new byte[Native.DeviceInfoSize];
                Marshal.Copy(Native.vorex_c_info(Handle), info, 0, info.Length);
                return info;
            }
        }

        public uint Serial { get { return BitConverter.ToUInt32(DeviceInfo, 66); } }

        /// <summary>The sensor's IPv4 address, dotted.</summary>
        public string Address
        {
            get
            {
                byte[] info = DeviceInfo;
                return info[140] + "." + info[141] + "." + info[142] + "." + info[143];
            }
        }

        /// <summary>The session's cached 1400-byte parameter block; setting it writes the cache only.</summary>
        public byte[] CachedParams
        {
            get
            {
                var block = new byte[Native.UserParamsSize];
                Marshal.Copy(Native.vorex_c_params(Handle), block, 0, block.Length);
                return block;
            }
            set { Marshal.Copy(CheckSize(value, Native.UserParamsSize, "value"), 0, Native.vorex_c_params(Handle), Native.UserParamsSize); }
        }

        public void Connect() { Check(Native.vorex_c_connect(Handle), "connect"); }
        public void Disconnect() { Native.vorex_c_disconnect(Handle); }

        /// <summary>Reads the whole block from the sensor (into the cache too).</summary>
        public byte[] ReadParams()
        {
            var block = new byte[Native.UserParamsSize];
            Check(Native.vorex_c_read_params(Handle, block), "read_params");
            return block;
        }

        /// <summary>Writes the block (null: the cache as it is).</summary>
        public void WriteParams(byte[] block)
        {
            Check(Native.vorex_c_write_params(Handle, block == null ? null : CheckSize(block, Native.UserParamsSize, "block")), "write_params");
        }

        public void FlushParams() { Check(Native.vorex_c_flush_params(Handle), "flush_params"); }
        public void ResetParams() { Check(Native.vorex_c_reset_params(Handle), "reset_params"); }
        public void Reboot() { Check(Native.vorex_c_reboot(Handle), "reboot"); }

        public static int GroupSize(Group group) { return (int)Native.vorex_c_group_size((int)group); }

        public byte[] ReadGroup(Group group)
        {
            var record = new byte[GroupSize(group)];
            Check(Native.vorex_c_read_group(Handle, (int)group, record, (UIntPtr)record.Length), "read " + group);
            return record;
        }

        public void WriteGroup(Group group, byte[] record)
        {
            if (record == null) throw new ArgumentNullException("record");
            Check(Native.vorex_c_write_group(Handle, (int)group, record, (UIntPtr)record.Length), "write " + group);
        }

        /// <summary>The next profile, or null when none came within the receive timeout.</summary>
        public Profile GetResult()
        {
            var header = new byte[Native.ProfileHeaderSize];
            var points = new double[2 * Native.MaxPoints];
            var raw = new ushort[Native.MaxPoints];
            UIntPtr pointCount, rawCount;
            if (Native.vorex_c_get_result(Handle, header, points, (UIntPtr)Native.MaxPoints, out pointCount, raw,
                                          (UIntPtr)raw.Length, out rawCount) == 0)
            {
                string text = ErrorMessage;
                if (text == "No error") return null;
                throw new VorexException("get_result", text);
            }
            int n = (int)pointCount;
            var profile = new Profile { Header = header, X = new double[n], Z = new double[n], RawValues = new ushort[(int)rawCount] };
            for (int i = 0; i < n; ++i)
            {
                profile.X[i] = points[2 * i];
                profile.Z[i] = points[2 * i + 1];
            }
            Array.Copy(raw, profile.RawValues, profile.RawValues.Length);
            return profile;
        }

        /// <summary>The sensor's 316224-byte image.</summary>
        public byte[] GetImage()
        {
            var image = new byte[Native.ImageSize];
            Check(Native.vorex_c_get_image(Handle, image, (UIntPtr)image.Length), "get_image");
            return image;
        }

        /// <summary>Uploads a firmware file; progress, when given, gets (bytes answered, file size).</summary>
        public void WriteFirmwareImage(string path, Action<ulong, ulong> progress = null)
        {
            if (path == null) throw new ArgumentNullException("path");
            Exception thrown = null;
            Native.ProgressFn report = null;
            if (progress != null)
            {
                // An exception must not unwind through the library: kept, and thrown once it returned.
                report = (done, total, context) =>
                {
                    if (thrown != null) return;
                    try { progress(done, total); }
                    catch (Exception e) { thrown = e; }
                };
            }
            int result = Native.vorex_c_write_firmware_image(Handle, path, report, IntPtr.Zero);
            GC.KeepAlive(report);
            if (thrown != null) throw thrown;
            Check(result, "write_firmware_image");
        }

        public void FlushFirmwareImage() { Check(Native.vorex_c_flush_firmware_image(Handle), "flush_firmware_image"); }

        /// <summary>count (1..240) log records from index on, 136 bytes each.</summary>
        public byte[][] ReadLog(uint index, int count)
        {
            if (count < 1) throw new ArgumentOutOfRangeException("count");
            var all = new byte[count * Native.LogRecordSize];
            Check(Native.vorex_c_read_log(Handle, index, all, count), "read_log");
            var records = new List<byte[]>(count);
            for (int i = 0; i < count; ++i)
            {
                var r = new byte[Native.LogRecordSize];
                Array.Copy(all, i * Native.LogRecordSize, r, 0, r.Length);
                records.Add(r);
            }
            return records.ToArray();
        }

        /// <summary>The number of records in the sensor's log; 0 on failure, as the library returns it.</summary>
        public uint ReadLogRecordCount() { return Native.vorex_c_read_log_record_count(Handle); }

        /// <summary>The number of records in the sensor's log, with failure told apart from an empty log.</summary>
        public bool TryReadLogRecordCount(out uint count) { return Native.vorex_c_read_log_record_count_checked(Handle, out count) != 0; }
    }
}
