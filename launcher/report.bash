report() { echo report; }
