// Placeholder until the first real source of this library lands; delete it then.
namespace rovalink {
int anchor_ui = 0;
}
