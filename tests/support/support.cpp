// Shared test fixtures live here as they are written.
namespace kestrova::test_support {
int anchor = 0;
}
