#pragma once

// Every section and key of the settings file, with the default that its readers use. No other file
// spells a section or key name. Where two readers use different defaults, there are two entries.
// Defaults that depend on the moment of reading (the present date, the current folder, the title) are
// marked kComputedDefault and supplied by the reader.

namespace zantrel::keys {

struct SettingKey {
    const char* section;
    const char* key;
    const char* fallback; // the reader's default as text
};

inline constexpr const char* kComputedDefault = nullptr;

// LOAD: main window placement, in twips (15 per pixel).
inline constexpr SettingKey LoadWidth{"LOAD", "WIDTH", "0"};
inline constexpr SettingKey LoadHeight{"LOAD", "HEIGHT", "0"};
inline constexpr SettingKey LoadTop{"LOAD", "TOP", "0"};
inline constexpr SettingKey LoadLeft{"LOAD", "LEFT", "0"};
inline constexpr SettingKey LoadOverlay{"LOAD", "OVERLAY", "NO"};

// VFW: capture device.
inline constexpr SettingKey VfwIndex{"VFW", "INDEX", "0"};
// The chosen camera by what identifies it for good: a network camera's address, a local camera's
// identity in the device list. Set, it wins over INDEX; an address not among the saved cameras is
// used as it stands.
inline constexpr SettingKey VfwCamera{"VFW", "CAMERA", ""};
// The format chosen for one camera: the key is the prefix, "_" and the camera's identity with every
// character other than a letter or digit replaced by "_". A GStreamer caps text; "" lets the camera choose.
inline constexpr SettingKey VfwFormat{"VFW", "FORMAT", ""};
// How long a newly connected camera runs before its frames are used (auto exposure settles), in ms.
inline constexpr SettingKey VfwWarmUp{"VFW", "WARMUP", "1500"};
// Seconds without a new picture after which a camera counts as lost and is connected again.
inline constexpr SettingKey VfwStall{"VFW", "STALL", "10"};
// The largest picture, in pixels, that any decoder of the program accepts: from a camera, the archive,
// the gallery or a time-lapse. A picture whose header claims more is refused before it is decoded.
inline constexpr SettingKey VfwMaxPixels{"VFW", "MAXPIXELS", "40000000"};

// PREF: preferences.
inline constexpr SettingKey PrefAutoRun{"PREF", "ARUN", "0"};
inline constexpr SettingKey PrefUsePassword{"PREF", "USEPASS", "0"};
inline constexpr SettingKey PrefPassword{"PREF", "PASSWORD", ""};
inline constexpr SettingKey PrefAutoHangUp{"PREF", "AHANGUP", "1"};
inline constexpr SettingKey PrefWindowsStart{"PREF", "WINDOWSSTART", "0"};
inline constexpr SettingKey PrefPreviewRate{"PREF", "PFR", "12"};

// UPDATE: the schedule. The fixed date defaults to the present value of each component.
inline constexpr SettingKey UpdateType{"UPDATE", "TYPE", "1"};
inline constexpr SettingKey UpdateYear{"UPDATE", "YEAR", kComputedDefault};
inline constexpr SettingKey UpdateMonth{"UPDATE", "MONTH", kComputedDefault};
inline constexpr SettingKey UpdateDay{"UPDATE", "DAY", kComputedDefault};
inline constexpr SettingKey UpdateHour{"UPDATE", "HOUR", kComputedDefault};
inline constexpr SettingKey UpdateMinute{"UPDATE", "MINUTE", kComputedDefault};
inline constexpr SettingKey UpdateSecond{"UPDATE", "SECOND", kComputedDefault};
inline constexpr SettingKey UpdatePartI{"UPDATE", "PARTI", "30"};
inline constexpr SettingKey UpdateUnitI{"UPDATE", "UNITI", "3"};
inline constexpr SettingKey UpdatePartII{"UPDATE", "PARTII", "0"};
inline constexpr SettingKey UpdateUnitII{"UPDATE", "UNITII", "0"};
inline constexpr SettingKey UpdateFrom{"UPDATE", "FROM", ""};
inline constexpr SettingKey UpdateTo{"UPDATE", "TO", ""};
inline constexpr SettingKey UpdateSun{"UPDATE", "SUN", "0"};
inline constexpr SettingKey UpdateLat{"UPDATE", "LAT", ""};
inline constexpr SettingKey UpdateLon{"UPDATE", "LON", ""};
inline constexpr SettingKey UpdateSunOffset{"UPDATE", "SUNOFFSET", "0"};

// IMAGE: the published picture. PATH defaults to the current folder, TEXTSTRING to the title.
inline constexpr SettingKey ImageFileName{"IMAGE", "FILENAME", "webcam.jpg"};
inline constexpr SettingKey ImageCompression{"IMAGE", "COMPRESSION", "50"};
inline constexpr SettingKey ImageSaveCopy{"IMAGE", "SAVEACOPY", "0"};
inline constexpr SettingKey ImagePath{"IMAGE", "PATH", kComputedDefault};
inline constexpr SettingKey ImageTime{"IMAGE", "TIME", "0"};
inline constexpr SettingKey ImageDate{"IMAGE", "DATE", "0"};
inline constexpr SettingKey ImageText{"IMAGE", "TEXT", "0"};
inline constexpr SettingKey ImageTimeColor{"IMAGE", "TIMECOLOR", "&H00FFFFFF&"};
inline constexpr SettingKey ImageDateColor{"IMAGE", "DATECOLOR", "&H00FFFFFF&"};
inline constexpr SettingKey ImageTextColor{"IMAGE", "TEXTCOLOR", "&H00FFFFFF&"};
inline constexpr SettingKey ImageBack{"IMAGE", "BACK", "0"};
inline constexpr SettingKey ImageTrans{"IMAGE", "TRANS", "1"};
inline constexpr SettingKey ImageTextString{"IMAGE", "TEXTSTRING", kComputedDefault};
inline constexpr SettingKey ImageTimePos{"IMAGE", "TIMEPOS", "0"};
inline constexpr SettingKey ImageDatePos{"IMAGE", "DATEPOS", "0"};
inline constexpr SettingKey ImageTextPos{"IMAGE", "TEXTPOS", "0"};
// Archive retention: copies older than this many days, or beyond this many megabytes in all, are
// deleted oldest first. 0 switches the limit off.
inline constexpr SettingKey ImageKeepDays{"IMAGE", "KEEPDAYS", "0"};
inline constexpr SettingKey ImageKeepMb{"IMAGE", "KEEPMB", "0"};
inline constexpr SettingKey ImageKeepFreeMb{"IMAGE", "KEEPFREEMB", "0"};

// FTP: uploads. The job does not upload unless told to; the settings dialog shows the box ticked.
inline constexpr SettingKey FtpUploadAtJob{"FTP", "UPLOAD", "0"};
inline constexpr SettingKey FtpUploadAtDialog{"FTP", "UPLOAD", "1"};
inline constexpr SettingKey FtpServers{"FTP", "SERVERS", "0"};
inline constexpr SettingKey FtpBeep{"FTP", "BEEP", "YES"};

// Server entry fields: the key is the prefix followed by the entry number padded to five digits
// (see serverEntryKey in core/store.h).
inline constexpr SettingKey FtpEntryAddress{"FTP", "ADDRESS", ""};
inline constexpr SettingKey FtpEntryPort{"FTP", "PORT", "21"};
inline constexpr SettingKey FtpEntryLogin{"FTP", "LOGIN", ""};
inline constexpr SettingKey FtpEntryPassword{"FTP", "PASSWORD", ""};
inline constexpr SettingKey FtpEntryUrl{"FTP", "URL", ""};
inline constexpr SettingKey FtpEntryPassive{"FTP", "PASSIVE", "0"};
// Upload to a temporary name and rename it over the final one (0 writes the final name directly).
inline constexpr SettingKey FtpEntryAtomic{"FTP", "ATOMIC", "1"};
// A trusted public key for FTPS, "sha256//" and its base64 hash, as libcurl pins it.
inline constexpr SettingKey FtpEntryPinned{"FTP", "PINNED", ""};
// A private key file for SFTP login.
inline constexpr SettingKey FtpEntryKeyFile{"FTP", "KEYFILE", ""};
// S3: the region requests are signed for ("auto" for stores that take any).
inline constexpr SettingKey FtpEntryRegion{"FTP", "REGION", "us-east-1"};
// Written by the program, not the dialog: the server (address:port:login) that refused to rename the
// uploaded file, so later runs upload to it directly. Another server under the entry tries renames again.
inline constexpr SettingKey FtpEntryNoRename{"FTP", "NORENAME", ""};

// NETCAM: saved network cameras. Entry fields: the key is the prefix followed by the entry number padded
// to five digits (see serverEntryKey in core/store.h). URL is an rtsp://, http:// or https:// address;
// LOGIN and PASSWORD, when set, win over credentials written into the address.
inline constexpr SettingKey NetcamCount{"NETCAM", "COUNT", "0"};
inline constexpr SettingKey NetcamEntryName{"NETCAM", "NAME", ""};
inline constexpr SettingKey NetcamEntryUrl{"NETCAM", "URL", ""};
inline constexpr SettingKey NetcamEntryLogin{"NETCAM", "LOGIN", ""};
inline constexpr SettingKey NetcamEntryPassword{"NETCAM", "PASSWORD", ""};

// MODEM: carried through the settings dialog only.
inline constexpr SettingKey ModemCom{"MODEM", "COM", "3"};
inline constexpr SettingKey ModemSpeed{"MODEM", "SPEED", "4"};
inline constexpr SettingKey ModemParity{"MODEM", "PARITY", "0"};
inline constexpr SettingKey ModemDataBits{"MODEM", "DATABITS", "0"};
inline constexpr SettingKey ModemStopBits{"MODEM", "STOPBITS", "0"};
inline constexpr SettingKey ModemDialMode{"MODEM", "DIALMODE", "1"};
inline constexpr SettingKey ModemAutoAnswer{"MODEM", "AUTOANSWER", "0"};
inline constexpr SettingKey ModemRings{"MODEM", "RINGS", "3"};
inline constexpr SettingKey ModemAskForPassword{"MODEM", "ASKFORPASSWORD", "0"};

// GALLERY: 1 shows the newest archive copy first, 0 the oldest; chosen in the gallery or on the Image page.
inline constexpr SettingKey GalleryNewestFirst{"GALLERY", "NEWESTFIRST", "0"};

// HTTP: the live view server, off unless enabled. USER and PASSWORD both empty: no login asked for.
// CERT and KEY: PEM files; with both set the server speaks HTTPS only.
inline constexpr SettingKey HttpEnable{"HTTP", "ENABLE", "0"};
inline constexpr SettingKey HttpBind{"HTTP", "BIND", "127.0.0.1"};
inline constexpr SettingKey HttpPort{"HTTP", "PORT", "8080"};
inline constexpr SettingKey HttpClients{"HTTP", "CLIENTS", "8"};
inline constexpr SettingKey HttpUser{"HTTP", "USER", ""};
inline constexpr SettingKey HttpPassword{"HTTP", "PASSWORD", ""};
inline constexpr SettingKey HttpCert{"HTTP", "CERT", ""};
inline constexpr SettingKey HttpKey{"HTTP", "KEY", ""};
inline constexpr SettingKey HttpHosts{"HTTP", "HOSTS", ""};

// TIMELAPSE: videos of the archive. DAILY builds the previous day's video at AT (hh:mm) into the archive
// folder; UPLOAD sends it to the servers under NAME. WIDTH is the largest width (never upscaled).
// LASTDAY (DDMMYYYY) is the last day the daily run handled, so no day is built twice.
inline constexpr SettingKey TimelapseDaily{"TIMELAPSE", "DAILY", "0"};
inline constexpr SettingKey TimelapseAt{"TIMELAPSE", "AT", "00:10"};
inline constexpr SettingKey TimelapseFps{"TIMELAPSE", "FPS", "25"};
inline constexpr SettingKey TimelapseWidth{"TIMELAPSE", "WIDTH", "1920"};
inline constexpr SettingKey TimelapseUpload{"TIMELAPSE", "UPLOAD", "0"};
inline constexpr SettingKey TimelapseName{"TIMELAPSE", "NAME", "timelapse.mp4"};
inline constexpr SettingKey TimelapseLastDay{"TIMELAPSE", "LASTDAY", ""};

// ALERT: telling someone when publishing stops. AFTER: failed jobs in a row before a server counts as
// failing; STALE: minutes without any image published before publishing counts as stale, 0 for three
// update intervals. Each delivery is off while its fields are empty: URL (http or https) receives a JSON
// POST; MAILTO gets a mail through SMTP (smtps://host:465, or smtp://host:587 with STARTTLS) with
// SMTPLOGIN and SMTPPASSWORD; DESKTOP 1 shows a desktop notification.
inline constexpr SettingKey AlertAfter{"ALERT", "AFTER", "3"};
inline constexpr SettingKey AlertStale{"ALERT", "STALE", "0"};
inline constexpr SettingKey AlertUrl{"ALERT", "URL", ""};
inline constexpr SettingKey AlertMailTo{"ALERT", "MAILTO", ""};
inline constexpr SettingKey AlertSmtp{"ALERT", "SMTP", ""};
inline constexpr SettingKey AlertSmtpLogin{"ALERT", "SMTPLOGIN", ""};
inline constexpr SettingKey AlertSmtpPassword{"ALERT", "SMTPPASSWORD", ""};
inline constexpr SettingKey AlertDesktop{"ALERT", "DESKTOP", "1"};

// IMAGE: what the stamps carry besides the time and date. VALUEMAXAGE: seconds after which a live value
// ({file:}, {json:}, {url:}) prints as "--"; LOGO: a PNG or JPEG file printed at LOGOPOS (the stamp
// positions), LOGOSIZE percent of the picture's height, LOGOOPACITY percent; FONT: the stamps' family
// (empty: the program's own), FONTSIZE: percent of the size that follows the picture.
inline constexpr SettingKey ImageValueMaxAge{"IMAGE", "VALUEMAXAGE", "600"};
inline constexpr SettingKey ImageLogo{"IMAGE", "LOGO", ""};
inline constexpr SettingKey ImageLogoPos{"IMAGE", "LOGOPOS", "6"};
inline constexpr SettingKey ImageLogoSize{"IMAGE", "LOGOSIZE", "10"};
inline constexpr SettingKey ImageLogoOpacity{"IMAGE", "LOGOOPACITY", "100"};
inline constexpr SettingKey ImageFont{"IMAGE", "FONT", ""};
inline constexpr SettingKey ImageFontSize{"IMAGE", "FONTSIZE", "100"};
// IMAGE/URLINTERVAL: seconds from one fetch of the stamp's {url:} values to the next (5 to 3600).
inline constexpr SettingKey ImageUrlInterval{"IMAGE", "URLINTERVAL", "60"};

// FT: first start.
inline constexpr SettingKey FirstTime{"FT", "FIRSTTIME", "YES"};

// What a job publishes while the chosen camera fails: 0 the test card, 1 nothing (the servers keep the
// last good picture).
inline constexpr SettingKey VfwWhenLost{"VFW", "WHENLOST", "0"};
// The mail server's certificate: "sha256//..." trusts exactly that public key (a self-signed server).
inline constexpr SettingKey AlertSmtpPin{"ALERT", "SMTPPIN", ""};

// MQTT: a broker that gets the program's availability, state, alerts and pictures, with Home Assistant
// discovery. Off while URL is empty. URL: mqtt://host[:1883] or mqtts://host[:8883] (the broker's
// certificate checked against CAFILE, or the system's store without one); TOPIC: where everything goes
// ("": webcam-zantrel/HOST/INSTANCE); DISCOVERY: Home Assistant configs under homeassistant/; IMAGE: each
// published picture; COMMANDS: "now", "run" and "stop" taken from TOPIC/set.
inline constexpr SettingKey MqttUrl{"MQTT", "URL", ""};
inline constexpr SettingKey MqttLogin{"MQTT", "LOGIN", ""};
inline constexpr SettingKey MqttPassword{"MQTT", "PASSWORD", ""};
inline constexpr SettingKey MqttTopic{"MQTT", "TOPIC", ""};
inline constexpr SettingKey MqttDiscovery{"MQTT", "DISCOVERY", "1"};
inline constexpr SettingKey MqttImage{"MQTT", "IMAGE", "1"};
inline constexpr SettingKey MqttCommands{"MQTT", "COMMANDS", "0"};
inline constexpr SettingKey MqttCaFile{"MQTT", "CAFILE", ""};

} // namespace zantrel::keys
