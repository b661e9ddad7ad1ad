"""The parts of bench/peers: servers, measured runs, tools and scenarios, the table."""
