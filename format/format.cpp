// The formats are headers; this file gives their library its one source.
namespace kv {}
