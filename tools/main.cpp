#include "cli.hpp"

int main(int argc, char **argv) {
    return cli::dispatch(argc, argv);
}
